#include "desktop/app_icon.h"

#include <QSize>
#include <QString>

// The images are compiled into this static library; make sure they are registered.
static void initIconResources() {
    Q_INIT_RESOURCE(app_icon);
}

namespace mbx::desktop {

QIcon applicationIcon() {
    initIconResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        icon.addFile(QStringLiteral(":/mbxvane/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace mbx::desktop
