// The conversion engine in mbxvane-bench:
//  - "convert --format eml|emlx|pst|msg --out DIR [--attachments DIR] [--workers N] MAILBOX...":
//    mbxvane-convert's conversion (cli/convert_command.h), with its exit codes and report;
//  - the "separator search and .eml conversion" suite: generates a mailbox and compares the
//    separator search with cat, the .eml conversion with csplit (and sync), and measures the
//    conversion's peak resident memory in a child process.
#include "bench/bench_support.h"
#include "bench/registry.h"
#include "cli/convert_command.h"
#include "cli/options.h"
#include "convert/engine.h"
#include "scanner/separator_search.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace mbx::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---- the command-line converter ---------------------------------------------------------

// mbxvane-convert's own parsing and run, with one more option: --workers N, the threads that
// parse messages for .pst and .msg. Progress goes to stdout one line per mailbox.
int convertCommand(const std::vector<std::string>& args) {
    int argc = 1;
    char name[] = "mbxvane-bench";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    std::vector<std::string> arguments{"mbxvane-bench convert"};
    arguments.insert(arguments.end(), args.begin(), args.end());
    const auto parsed = cli::parseArguments(arguments);
    if (!parsed.options) {
        (parsed.exitCode == cli::kExitOk ? std::cout : std::cerr) << parsed.text << std::flush;
        return parsed.exitCode;
    }
    cli::Console console{std::cout, std::cerr, cli::ProgressPrinter::Mode::Lines, {}};
    const std::atomic<bool> never{false};
    return cli::runConversion(*parsed.options, console, never);
}

MBX_BENCH_COMMAND("convert", convertCommand);

// ---- the benchmark -----------------------------------------------------------------------

std::size_t searchOnce(const std::string& mailbox) {
    return scanner::findSeparators(mailbox, convert::kSeparatorText, {}).offsets.size();
}

void conversionSuite() {
    const auto messages = envNumber("MBXVANE_BENCH_MESSAGES", 200000);
    const auto runs = std::max<std::uint64_t>(1, envNumber("MBXVANE_BENCH_RUNS", 5));
    const auto self = fs::read_symlink("/proc/self/exe").string();
    const auto work = fs::temp_directory_path() / ("mbxvane-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const auto mailbox = (work / "mailbox.mbx").string();

    auto t0 = Clock::now();
    const auto bytes = generateMailbox(mailbox, messages);
    std::cout << "mailbox: " << messages << " messages, " << bytes << " bytes ("
              << formatFixed(static_cast<double>(bytes) / (1 << 20), 1) << " MiB), generated in "
              << formatFixed(std::chrono::duration<double>(Clock::now() - t0).count(), 1) << " s"
              << std::endl;

    // Warm the cache, then time cat and the search alternately.
    runChild({"cat", mailbox});
    std::vector<double> cat, search;
    std::size_t found = 0;
    for (std::uint64_t i = 0; i < runs; ++i) {
        cat.push_back(runChild({"sh", "-c", "cat \"$0\" > /dev/null", mailbox}).seconds);
        t0 = Clock::now();
        found = searchOnce(mailbox);
        search.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    const double catS = median(cat), searchS = median(search);
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::cout << "cat FILE > /dev/null: " << formatFixed(catS) << " s ("
              << formatFixed(mib / catS, 0) << " MiB/s)" << std::endl;
    std::cout << "separator search: " << formatFixed(searchS) << " s ("
              << formatFixed(mib / searchS, 0) << " MiB/s), " << found << " separators"
              << std::endl;
    std::cout << "search / cat: " << formatFixed(searchS / catS, 2) << " (target <= 1.5)"
              << std::endl;

    // Conversion in a child process (its own peak RSS) against csplit at the separator lines.
    const auto convRuns = std::max<std::uint64_t>(1, std::min<std::uint64_t>(runs, 3));
    const auto outConv = work / "out-eml";
    const auto outSplit = work / "out-csplit";
    std::vector<double> conv, split;
    long rss = 0;
    std::size_t convFiles = 0, splitFiles = 0;
    for (std::uint64_t i = 0; i < convRuns; ++i) {
        // Both sides start from an empty folder with nothing left to write back, since creating
        // files dominates both and the disk is shared.
        fs::remove_all(outConv);
        fs::create_directories(outConv);
        ::sync();
        const auto c =
            runChild({self, "convert", "--format", "eml", "--out", outConv.string(), mailbox});
        conv.push_back(c.seconds);
        rss = std::max(rss, c.maxRssKiB);
        convFiles = countFiles(outConv);

        fs::remove_all(outSplit);
        fs::create_directories(outSplit);
        ::sync();
        // The conversion ends once its files are on the disk; csplit's time includes the same.
        const auto s = runChild({"sh", "-c",
                                 "csplit -s -z -n 6 -f \"$0/xx\" \"$1\" '/^From ???@???"
                                 "/' '{*}' "
                                 "&& sync -f \"$0\"",
                                 outSplit.string(), mailbox});
        split.push_back(s.seconds);
        splitFiles = countFiles(outSplit);
    }
    const double convS = median(conv), splitS = median(split);
    std::cout << ".eml conversion: " << formatFixed(convS) << " s, " << convFiles << " files"
              << std::endl;
    std::cout << "csplit at separator lines, then sync -f: " << formatFixed(splitS) << " s, "
              << splitFiles << " files" << std::endl;
    std::cout << "conversion / csplit: " << formatFixed(convS / splitS, 2) << " (target <= 1.0)"
              << std::endl;
    std::cout << "conversion peak RSS: " << formatFixed(static_cast<double>(rss) / 1024, 1)
              << " MiB (target < 64)" << std::endl;
    fs::remove_all(work);
}

MBX_BENCH_SUITE("separator search and .eml conversion", 10, conversionSuite);

// "generate [--messages N] FILE": the benchmark's mailbox, for runs by hand.
// Anything else that starts with "-" is no file name: it gets the usage (--help on standard
// output with status 0), never a file of that name.
int generateCommand(const std::vector<std::string>& args) {
    std::uint64_t messages = 200000;
    std::string file;
    bool wrong = false;
    bool help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& a = args[i];
        if (a == "--messages" && i + 1 < args.size()) {
            char* end = nullptr;
            const auto& value = args[++i];
            messages = std::strtoull(value.c_str(), &end, 10);
            wrong |= value.empty() || *end != '\0' || value[0] == '-';
        } else if (a == "--help" || a == "-h") {
            help = true;
        } else if (a.empty() || a[0] == '-' || !file.empty()) {
            wrong = true;
        } else {
            file = a;
        }
    }
    if (help || wrong || file.empty()) {
        (help ? std::cout : std::cerr) << "usage: mbxvane-bench generate [--messages N] FILE\n";
        return help ? 0 : 2;
    }
    const auto bytes = generateMailbox(file, messages);
    std::cout << file << ": " << messages << " messages, " << bytes << " bytes" << std::endl;
    return bytes > 0 ? 0 : 1;
}

MBX_BENCH_COMMAND("generate", generateCommand);

} // namespace
} // namespace mbx::bench
