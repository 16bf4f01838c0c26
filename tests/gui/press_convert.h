// Presses Convert and runs an event loop until the press is dealt with: no run was started, or
// the run and its closing box are over (ConversionController::runFinished).
#pragma once

#include "app/conversion_controller.h"
#include "app/frm_step1.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTest>

namespace mbx::testing {

inline void pressConvert(app::frmStep1& window, app::ConversionController& controller) {
    QEventLoop loop;
    bool done = false;
    const auto connection =
        QObject::connect(&controller, &app::ConversionController::runFinished, &loop, [&] {
            done = true;
            loop.quit();
        });
    QTest::mouseClick(window.CmdConvert, Qt::LeftButton);
    while (!done) {
        loop.exec();
    }
    QObject::disconnect(connection);
}

} // namespace mbx::testing
