// The conversion engine in mbxvane-bench:
//  - "convert --format eml|emlx|pst|msg --out DIR [--attachments DIR] [--workers N] MAILBOX...":
//    the window's conversion run with a console desktop (boxes printed to stdout, the folder
//    dialog answers DIR); exits with 1 when anything failed;
//  - the "separator search and .eml conversion" suite: generates a mailbox and compares the
//    separator search with cat, the .eml conversion with csplit, and measures the conversion's
//    peak resident memory in a child process.
#include "bench/bench_support.h"
#include "bench/registry.h"
#include "convert/conversion_run.h"
#include "convert/store_target.h"
#include "scanner/separator_search.h"

#include <algorithm>
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

// ---- the console converter -------------------------------------------------------------

class ConsoleDesktop : public desktop::Desktop {
public:
    explicit ConsoleDesktop(std::string out) : out_(std::move(out)) {}
    desktop::Answer messageBox(const std::string& caption, const std::string& text, desktop::Icon,
                               desktop::Buttons buttons) override {
        std::cout << "[" << caption << "] " << text << std::endl;
        return buttons == desktop::Buttons::YesNo ? desktop::Answer::No : desktop::Answer::Ok;
    }
    desktop::OpenFilesResult openFiles(const desktop::OpenFilesRequest&) override { return {}; }
    std::string browseForFolder(const std::string&) override { return out_; }
    void shellOpen(const std::string&) override {}
    void beep() override {}
    void setBusy(bool) override {}

private:
    std::string out_;
};

// Prints one line per mailbox when its messages are counted.
class ConsoleView : public convert::ProgressObserver {
public:
    void status(convert::StatusLine line, const std::string& text) override {
        if (line == convert::StatusLine::MailboxFile) {
            file_ = text;
        } else if (line == convert::StatusLine::MessagesFound && !text.empty()) {
            std::cout << file_ << ": " << text << std::endl;
        }
    }

private:
    std::string file_;
};

int convertCommand(const std::vector<std::string>& args) {
    convert::RunRequest request;
    convert::RunOptions options;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format" && i + 1 < args.size()) {
            const auto& f = args[++i];
            request.format = f == "eml"    ? convert::Format::Eml
                             : f == "emlx" ? convert::Format::Emlx
                             : f == "pst"  ? convert::Format::Pst
                             : f == "msg"  ? convert::Format::Msg
                                           : convert::Format::None;
            if (request.format == convert::Format::None) {
                std::cerr << "unknown format " << f << "\n";
                return 2;
            }
        } else if (args[i] == "--out" && i + 1 < args.size()) {
            out = args[++i];
        } else if (args[i] == "--attachments" && i + 1 < args.size()) {
            request.attachmentsFolder = args[++i];
        } else if (args[i] == "--workers" && i + 1 < args.size()) {
            options.workers = std::atoi(args[++i].c_str());
        } else {
            request.rows.push_back(args[i]);
        }
    }
    if (out.empty() || request.rows.empty() || request.format == convert::Format::None) {
        std::cerr << "usage: mbxvane-bench convert --format eml|emlx|pst|msg --out DIR "
                     "[--attachments DIR] [--workers N] MAILBOX...\n";
        return 2;
    }
    // A folder dialog only ever gives an existing folder.
    std::error_code ec;
    fs::create_directories(out, ec);
    ConsoleDesktop desktop(fs::absolute(out).lexically_normal().string());
    ConsoleView view;
    auto store = convert::makeStoreTarget(request.format);
    convert::ConversionRun run(desktop, view, store.get(), options);
    return run.run(request) == convert::RunOutcome::Completed ? 0 : 1;
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
        const auto s =
            runChild({"csplit", "-s", "-z", "-n", "6", "-f", (outSplit / "xx").string(), mailbox,
                      "/^From ???@???"
                      "/",
                      "{*}"});
        split.push_back(s.seconds);
        splitFiles = countFiles(outSplit);
    }
    const double convS = median(conv), splitS = median(split);
    std::cout << ".eml conversion: " << formatFixed(convS) << " s, " << convFiles << " files"
              << std::endl;
    std::cout << "csplit at separator lines: " << formatFixed(splitS) << " s, " << splitFiles
              << " files" << std::endl;
    std::cout << "conversion / csplit: " << formatFixed(convS / splitS, 2) << " (target <= 1.0)"
              << std::endl;
    std::cout << "conversion peak RSS: " << formatFixed(static_cast<double>(rss) / 1024, 1)
              << " MiB (target < 64)" << std::endl;
    fs::remove_all(work);
}

MBX_BENCH_SUITE("separator search and .eml conversion", 10, conversionSuite);

// "generate [--messages N] FILE": the benchmark's mailbox, for runs by hand.
int generateCommand(const std::vector<std::string>& args) {
    std::uint64_t messages = 200000;
    std::string file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--messages" && i + 1 < args.size()) {
            messages = std::strtoull(args[++i].c_str(), nullptr, 10);
        } else {
            file = args[i];
        }
    }
    if (file.empty()) {
        std::cerr << "usage: mbxvane-bench generate [--messages N] FILE\n";
        return 2;
    }
    const auto bytes = generateMailbox(file, messages);
    std::cout << file << ": " << messages << " messages, " << bytes << " bytes" << std::endl;
    return bytes > 0 ? 0 : 1;
}

MBX_BENCH_COMMAND("generate", generateCommand);

} // namespace
} // namespace mbx::bench
