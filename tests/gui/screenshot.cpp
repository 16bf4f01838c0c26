// Renders the main window to a PNG for the documentation: scripts/screenshot.sh runs it under
// Xvfb. The list holds the examples shipped with the sources.
#include "app/fonts.h"
#include "app/frm_step1.h"
#include "selection/mailbox_list.h"
#include "tests/support/fake_desktop.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    mbx::app::loadWindowFonts();
    mbx::testing::FakeDesktop desktop;
    mbx::app::frmStep1 window(desktop);
    for (const char* mailbox : {"/home/ann/Mail/In.mbx", "/home/ann/Mail/Out.mbx",
                                "/home/ann/Mail/Projects/Baidarka.mbx"}) {
        window.mailboxList().addRow(mailbox);
    }
    window.CmdConvert->setEnabled(true);
    window.show();
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTimer::singleShot(500, [&] { QApplication::exit(window.grab().save(out) ? 0 : 1); });
    return QApplication::exec();
}
