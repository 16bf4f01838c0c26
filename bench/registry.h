// mbxvane-bench is one program made of modules: each module registers its sub-commands
// ("convert", "pst-write", ...) and its part of the no-argument benchmark run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace mbx::bench {

// A sub-command gets the arguments after its name and returns the process exit code.
using Command = std::function<int(const std::vector<std::string>& args)>;
// A suite runs one part of the full benchmark; it prints one figure or ratio per line.
using Suite = std::function<void()>;

struct Registration {
    Registration(std::string name, Command command);
    Registration(std::string name, int order, Suite suite);
};

} // namespace mbx::bench

// Use at namespace scope in a module's .cpp file.
#define MBX_BENCH_CONCAT2(a, b) a##b
#define MBX_BENCH_CONCAT(a, b) MBX_BENCH_CONCAT2(a, b)
#define MBX_BENCH_COMMAND(name, fn)                                                                \
    static const ::mbx::bench::Registration MBX_BENCH_CONCAT(mbxBenchCmd_, __LINE__) {             \
        name, fn                                                                                   \
    }
#define MBX_BENCH_SUITE(name, order, fn)                                                           \
    static const ::mbx::bench::Registration MBX_BENCH_CONCAT(mbxBenchSuite_, __LINE__) {           \
        name, order, fn                                                                            \
    }
