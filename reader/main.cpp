// The File Reader on its own: the reader window as a small tool.
#include "desktop/qt_desktop.h"
#include "reader/frm_finder.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    mbx::desktop::QtDesktop desktop;
    mbx::reader::FrmFinder window(desktop);
    desktop.setOwner(&window);
    window.show();
    return QApplication::exec();
}
