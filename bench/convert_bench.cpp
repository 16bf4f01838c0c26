// The conversion engine in mbxvane-bench:
//  - "convert --format eml|emlx|pst|msg --out DIR MAILBOX...": the window's conversion run with
//    a console desktop (boxes printed to stdout, the folder dialog answers DIR);
//  - the "separator search and .eml conversion" suite: generates a mailbox and compares the
//    separator search with cat, the .eml conversion with csplit, and measures the conversion's
//    peak resident memory in a child process.
#include "bench/registry.h"
#include "convert/conversion_run.h"
#include "convert/store_factory.h"
#include "scanner/mailbox_reader.h"

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

// Keeps the latest values and prints one line per mailbox when its messages are counted.
class ConsoleView : public convert::RunView {
public:
    void setLabel(convert::Label label, const std::string& text) override {
        if (label == convert::Label::LblIMMFile) {
            file_ = text;
        } else if (label == convert::Label::LblEmlsFound && !text.empty()) {
            std::cout << file_ << ": " << text << std::endl;
        }
    }
    void setByteUpdate(std::uint64_t, std::uint64_t) override {}
    void setBarRange(convert::Bar, int, int) override {}
    void setBarValue(convert::Bar, float) override {}
    void setCurrentRow(int) override {}
    void setConvertEnabled(bool) override {}
    void clearFormats() override {}
    bool yield() override { return true; }

private:
    std::string file_;
};

int ConvertCommand(const std::vector<std::string>& args) {
    convert::RunRequest request;
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
        } else {
            request.rows.push_back(args[i]);
        }
    }
    if (out.empty() || request.rows.empty() || request.format == convert::Format::None) {
        std::cerr << "usage: mbxvane-bench convert --format eml|emlx|pst|msg --out DIR "
                     "MAILBOX...\n";
        return 2;
    }
    // A folder dialog only ever gives an existing folder.
    std::error_code ec;
    fs::create_directories(out, ec);
    ConsoleDesktop desktop(fs::absolute(out).lexically_normal().string());
    ConsoleView view;
    auto steps = convert::MakeStoreSteps(request.format);
    convert::ConversionRun run(desktop, view, steps.get());
    return run.Run(request) == convert::RunOutcome::Completed ? 0 : 1;
}

MBX_BENCH_COMMAND("convert", ConvertCommand);

// ---- the benchmark -----------------------------------------------------------------------

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : fallback;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct ChildResult {
    double seconds = 0;
    long maxRssKiB = 0;
    int status = -1;
};

// Runs a program with stdout and stderr sent to /dev/null; wall time and peak RSS of the child.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& stdoutPath = "") {
    std::vector<char*> cargv;
    for (const auto& a : argv) {
        cargv.push_back(const_cast<char*>(a.c_str()));
    }
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = stdoutPath.empty() ? "/dev/null" : stdoutPath;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ChildResult r;
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return r;
    }
    struct rusage usage {};
    int status = 0;
    ::wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.maxRssKiB = usage.ru_maxrss;
    r.status = status;
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

// A mailbox that looks like real mail: CRLF lines, headers, wrapped text, most messages a few
// KiB, a few large ones up to 2 MiB. Separators only at line starts.
std::uint64_t GenerateMailbox(const fs::path& path, std::uint64_t messages) {
    static const char* const kWords[] = {
        "the",    "meeting", "report",  "attached", "please", "review", "budget",  "for",
        "next",   "quarter", "thanks",  "regards",  "we",     "should", "discuss", "project",
        "status", "update",  "and",     "schedule", "a",      "call",   "with",    "team",
        "Eudora", "mailbox", "archive", "from",     "to",     "about",  "invoice", "draft"};
    constexpr std::size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::vector<char> buffer(4 << 20);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    std::uint64_t total = 0;
    std::string msg;
    for (std::uint64_t i = 0; i < messages; ++i) {
        // Log-uniform sizes: 99.6 % from 1 to 8 KiB, 0.4 % from 8 KiB to 2 MiB, one of 2 MiB.
        double lo = 1024, hi = 8192;
        if (unit(rng) < 0.004) {
            lo = 8192;
            hi = 2 << 20;
        }
        auto size = static_cast<std::size_t>(
            std::exp(std::log(lo) + unit(rng) * (std::log(hi) - std::log(lo))));
        if (i == messages / 2) {
            size = 2 << 20;
        }
        msg.clear();
        msg += "From ???@??? Mon Dec 07 04:0" + std::to_string(i % 10) + ":00 2026\r\n";
        msg += "Received: from mail.example.org by pop.example.org; Mon, 7 Dec 2026\r\n";
        msg += "From: Sender " + std::to_string(i % 977) + " <s" + std::to_string(i % 977) +
               "@example.org>\r\n";
        msg += "To: ann@example.org\r\nSubject: message " + std::to_string(i) + "\r\n";
        msg += "Date: Mon, 7 Dec 2026 04:00:00 +0000\r\nMessage-ID: <" + std::to_string(i) +
               "@example.org>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; "
               "charset=us-ascii\r\n\r\n";
        while (msg.size() < size) {
            std::string line;
            while (line.size() < 66) {
                line += kWords[rng() % kWordCount];
                line += ' ';
            }
            line.back() = '\r';
            line += '\n';
            msg += line;
        }
        msg.resize(size);
        if (msg.size() >= 2) {
            msg[msg.size() - 2] = '\r';
            msg[msg.size() - 1] = '\n';
        }
        std::fwrite(msg.data(), 1, msg.size(), f);
        total += msg.size();
    }
    std::fclose(f);
    return total;
}

class QuietSink : public scanner::ReaderSink {
public:
    void beep() override {}
    void warning(const std::string&, desktop::Icon, const std::string&) override {}
    void clearSurface() override {}
    void writeSurface(std::string_view) override {}
    bool surfaceShown() const override { return false; }
    void setProgressBar2(int) override {}
    void setLblHappening(const std::string&) override {}
    void focusText1() override {}
    bool yield() override { return true; }
};

std::size_t SearchOnce(const std::string& mailbox) {
    scanner::SearchState state;
    QuietSink sink;
    scanner::MailboxReader reader(state, sink);
    reader.Text2 = convert::kSeparatorText;
    reader.Open_MBOX(mailbox);
    reader.Find_Click();
    while (!state.endOfSearch) {
        reader.FindNext_Click();
    }
    reader.CloseFile();
    return state.offsets.size();
}

std::size_t CountFiles(const fs::path& dir) {
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        n += it->is_regular_file() ? 1 : 0;
    }
    return n;
}

std::string Fixed(double v, int digits = 3) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

void ConversionSuite() {
    const auto messages = EnvNumber("MBXVANE_BENCH_MESSAGES", 200000);
    const auto runs = std::max<std::uint64_t>(1, EnvNumber("MBXVANE_BENCH_RUNS", 5));
    const auto self = fs::read_symlink("/proc/self/exe").string();
    const auto work = fs::temp_directory_path() / ("mbxvane-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const auto mailbox = (work / "mailbox.mbx").string();

    auto t0 = Clock::now();
    const auto bytes = GenerateMailbox(mailbox, messages);
    std::cout << "mailbox: " << messages << " messages, " << bytes << " bytes ("
              << Fixed(static_cast<double>(bytes) / (1 << 20), 1) << " MiB), generated in "
              << Fixed(std::chrono::duration<double>(Clock::now() - t0).count(), 1) << " s"
              << std::endl;

    // Warm the cache, then time cat and the search alternately.
    RunChild({"cat", mailbox});
    std::vector<double> cat, search;
    std::size_t found = 0;
    for (std::uint64_t i = 0; i < runs; ++i) {
        cat.push_back(RunChild({"sh", "-c", "cat \"$0\" > /dev/null", mailbox}).seconds);
        t0 = Clock::now();
        found = SearchOnce(mailbox);
        search.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    const double catS = Median(cat), searchS = Median(search);
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::cout << "cat FILE > /dev/null: " << Fixed(catS) << " s (" << Fixed(mib / catS, 0)
              << " MiB/s)" << std::endl;
    std::cout << "separator search: " << Fixed(searchS) << " s (" << Fixed(mib / searchS, 0)
              << " MiB/s), " << found << " separators" << std::endl;
    std::cout << "search / cat: " << Fixed(searchS / catS, 2) << " (target <= 1.5)" << std::endl;

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
            RunChild({self, "convert", "--format", "eml", "--out", outConv.string(), mailbox});
        conv.push_back(c.seconds);
        rss = std::max(rss, c.maxRssKiB);
        convFiles = CountFiles(outConv);

        fs::remove_all(outSplit);
        fs::create_directories(outSplit);
        ::sync();
        const auto s =
            RunChild({"csplit", "-s", "-z", "-n", "6", "-f", (outSplit / "xx").string(), mailbox,
                      "/^From ???@???"
                      "/",
                      "{*}"});
        split.push_back(s.seconds);
        splitFiles = CountFiles(outSplit);
    }
    const double convS = Median(conv), splitS = Median(split);
    std::cout << ".eml conversion: " << Fixed(convS) << " s, " << convFiles << " files"
              << std::endl;
    std::cout << "csplit at separator lines: " << Fixed(splitS) << " s, " << splitFiles << " files"
              << std::endl;
    std::cout << "conversion / csplit: " << Fixed(convS / splitS, 2) << " (target <= 1.0)"
              << std::endl;
    std::cout << "conversion peak RSS: " << Fixed(static_cast<double>(rss) / 1024, 1)
              << " MiB (target < 64)" << std::endl;
    fs::remove_all(work);
}

MBX_BENCH_SUITE("separator search and .eml conversion", 10, ConversionSuite);

// "generate [--messages N] FILE": the benchmark's mailbox, for runs by hand.
int GenerateCommand(const std::vector<std::string>& args) {
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
    const auto bytes = GenerateMailbox(file, messages);
    std::cout << file << ": " << messages << " messages, " << bytes << " bytes" << std::endl;
    return bytes > 0 ? 0 : 1;
}

MBX_BENCH_COMMAND("generate", GenerateCommand);

} // namespace
} // namespace mbx::bench
