// The application's icon (16, 24, 32 and 48 pixel images), for every window of the program and
// of the stand-alone File Reader.
#pragma once

#include <QIcon>

namespace mbx::desktop {

QIcon applicationIcon();

} // namespace mbx::desktop
