// Mbxvane: creating the main window is the whole of start-up; closing it ends the program.
#include "app/conversion_controller.h"
#include "app/fonts.h"
#include "app/frm_step1.h"
#include "desktop/qt_desktop.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(mbx::desktop::kAppTitle));
    mbx::app::loadWindowFonts();

    mbx::desktop::QtDesktop desktop;
    mbx::app::frmStep1 window(desktop);
    desktop.setOwner(&window);
    mbx::app::ConversionController conversion(window);
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return QApplication::exec();
}
