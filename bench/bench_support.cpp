#include "bench/bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iomanip>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace mbx::bench {

namespace fs = std::filesystem;

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : fallback;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

ChildResult runChild(const std::vector<std::string>& argv, const std::string& stdoutPath) {
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
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    r.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    r.status = status;
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

std::uint64_t generateMailbox(const fs::path& path, std::uint64_t messages) {
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

std::size_t countFiles(const fs::path& dir) {
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        n += it->is_regular_file() ? 1 : 0;
    }
    return n;
}

std::string formatFixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

} // namespace mbx::bench
