// mbxvane-convert without main(): checks the inputs and the output folder, runs the conversion
// engine with progress and cancellation, writes the report and gives the exit code.
#pragma once

#include "cli/options.h"
#include "cli/progress.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>

namespace mbx::cli {

struct Console {
    std::ostream& out;
    std::ostream& err;
    ProgressPrinter::Mode mode = ProgressPrinter::Mode::Lines;
    // Called after every message written, with the number written so far in the run (tests use
    // it to interrupt at an exact point).
    std::function<void(std::uint64_t)> afterMessage;
};

// `cancel` is polled between messages; once set, the run stops at the next message boundary and
// every file written is complete.
int runConversion(const Options& options, Console& console, const std::atomic<bool>& cancel);

} // namespace mbx::cli
