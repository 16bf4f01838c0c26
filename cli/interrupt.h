// Ctrl-C and SIGTERM ask the conversion to stop at the next message instead of ending the process
// in the middle of a file. A second signal ends the process at once, as it would without us.
#pragma once

#include <atomic>

namespace mbx::cli {

// Set by the handlers; the conversion reads it as its cancellation flag.
std::atomic<bool>& interruptFlag();

// Installs the handlers for SIGINT and SIGTERM (std::signal, so it works wherever C++ does).
void installInterruptHandlers();

} // namespace mbx::cli
