// mbxvane-bench: "all" runs every registered benchmark suite in order (a long run that writes
// files of several GB); a command name ("convert", ...) runs that command; without arguments, or
// with --help, it prints its usage. Options of the full run, which also start it without "all":
//   --dir DIR       where suites put their scratch files (default: the system temp folder)
//   --messages N    messages of the generated mailbox (default 200000)
//   --runs N        timed repetitions per figure (default 5; the median is printed)
//   --only TEXT     run only the suites whose names contain TEXT
// The options reach the suites as the environment variables TMPDIR, MBXVANE_BENCH_MESSAGES
// and MBXVANE_BENCH_RUNS of this process.
#include "bench/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace mbx::bench {

namespace {

struct Registry {
    std::map<std::string, Command> commands;
    std::vector<std::tuple<int, std::string, Suite>> suites;
};

// Filled by the registrations of the modules before main runs.
Registry& theRegistry() {
    static Registry registry;
    return registry;
}

// On standard output with status 0 when asked for, else on standard error with status 2.
int usage(const char* self, bool asked) {
    std::ostream& out = asked ? std::cout : std::cerr;
    out << "usage: " << self << " all [--dir DIR] [--messages N] [--runs N] [--only TEXT]\n"
        << "       " << self << " COMMAND ARGS...\n"
        << "all: the full benchmark (every suite; takes minutes and several GB of scratch files)\n"
        << "commands:";
    for (const auto& [name, command] : theRegistry().commands) {
        out << ' ' << name;
    }
    out << '\n';
    return asked ? 0 : 2;
}

} // namespace

Registration::Registration(std::string name, Command command) {
    theRegistry().commands.emplace(std::move(name), std::move(command));
}

Registration::Registration(std::string name, int order, Suite suite) {
    theRegistry().suites.emplace_back(order, std::move(name), std::move(suite));
}

} // namespace mbx::bench

int main(int argc, char** argv) {
    using namespace mbx::bench;
    std::vector<std::string> args(argv + 1, argv + argc);
    auto& registry = theRegistry();
    if (args.empty()) {
        return usage(argv[0], false);
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        return usage(argv[0], true);
    }
    if (args[0] == "all") {
        args.erase(args.begin());
    } else if (args[0].rfind("--", 0) != 0) {
        const auto found = registry.commands.find(args[0]);
        if (found == registry.commands.end()) {
            return usage(argv[0], false);
        }
        return found->second(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::string only;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& a = args[i];
        if (i + 1 < args.size() && a == "--only") {
            only = args[++i];
            continue;
        }
        if (i + 1 >= args.size() || (a != "--dir" && a != "--messages" && a != "--runs")) {
            return usage(argv[0], a == "--help" || a == "-h");
        }
        const auto& value = args[++i];
        if (a == "--dir") {
            std::error_code ignored; // a folder that cannot be made is told by the first suite
            std::filesystem::create_directories(value, ignored);
        }
        const char* variable = a == "--dir"        ? "TMPDIR"
                               : a == "--messages" ? "MBXVANE_BENCH_MESSAGES"
                                                   : "MBXVANE_BENCH_RUNS";
        ::setenv(variable, value.c_str(), 1);
    }
    auto suites = registry.suites;
    std::stable_sort(suites.begin(), suites.end(),
                     [](const auto& x, const auto& y) { return std::get<0>(x) < std::get<0>(y); });
    for (const auto& [order, name, suite] : suites) {
        if (name.find(only) == std::string::npos) {
            continue;
        }
        std::cout << "# " << name << std::endl;
        suite();
    }
    return 0;
}
