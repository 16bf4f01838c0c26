// The mail-store steps for the .pst and .msg targets (MailStoreSteps, on the mail-store session),
// as the window and the command-line converter obtain them; nullptr for the other formats.
#pragma once

#include "convert/conversion_run.h"

#include <memory>

namespace mbx::convert {

std::unique_ptr<StoreSteps> MakeStoreSteps(Format format);

} // namespace mbx::convert
