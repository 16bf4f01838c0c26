#include "app/fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace mbx::app {

void loadWindowFonts() {
    for (const char* file :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        if (QFile::exists(QString::fromLatin1(file))) {
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        }
    }
}

} // namespace mbx::app
