// The mail-store steps for the .pst and .msg targets, as the command-line converter obtains them.
// Until the mail-store session is wired in, MakeStoreSteps returns nullptr and the run then ends
// those targets with the "Outlook Error" box.
#pragma once

#include "convert/conversion_run.h"

#include <memory>

namespace mbx::convert {

std::unique_ptr<StoreSteps> MakeStoreSteps(Format format);

} // namespace mbx::convert
