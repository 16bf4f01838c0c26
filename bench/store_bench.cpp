// The .pst and .msg targets against the .eml target, on the benchmark's generated mailbox: each
// conversion runs as `mbxvane-bench convert` in a child process, so its wall time and peak
// resident memory are its own.
#include "bench/bench_support.h"
#include "bench/registry.h"

#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace mbx::bench {
namespace {

namespace fs = std::filesystem;

struct Conversion {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

// Each conversion writes into a new folder, and no output is deleted until all have run: ext4
// looks past inodes freed in the last seconds when it allocates new ones, so a run that follows
// the deletion of a large tree pays for it.
Conversion Convert(const std::string& self, const std::string& format, const fs::path& out,
                   const std::string& mailbox) {
    fs::create_directories(out);
    ::sync();
    const auto r = RunChild({self, "convert", "--format", format, "--out", out.string(), mailbox});
    return {r.seconds, static_cast<double>(r.maxRssKiB) / 1024, r.status == 0};
}

void StoreSuite() {
    const auto messages = EnvNumber("MBXVANE_BENCH_MESSAGES", 200000);
    const auto self = fs::read_symlink("/proc/self/exe").string();
    const auto work =
        fs::temp_directory_path() / ("mbxvane-bench-store-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const auto mailbox = (work / "mailbox.mbx").string();
    const auto bytes = GenerateMailbox(mailbox, messages);
    std::cout << "mailbox: " << messages << " messages, "
              << Fixed(static_cast<double>(bytes) / (1 << 20), 1) << " MiB" << std::endl;
    RunChild({"cat", mailbox}); // warm the cache

    // The floor: copying the mailbox once to the same disk.
    fs::create_directories(work / "out-cp");
    ::sync();
    const auto cp = RunChild({"cp", mailbox, (work / "out-cp" / "copy.mbx").string()});
    fs::remove_all(work / "out-cp");

    const Conversion eml = Convert(self, "eml", work / "out-eml", mailbox);
    const Conversion pst = Convert(self, "pst", work / "out-pst", mailbox);
    std::uintmax_t pstBytes = 0;
    for (const auto& e : fs::directory_iterator(work / "out-pst")) {
        if (e.path().extension() == ".pst") {
            pstBytes += e.file_size();
        }
    }
    const Conversion msg = Convert(self, "msg", work / "out-msg", mailbox);
    const std::size_t msgFiles = CountFiles(work / "out-msg");
    for (const char* out : {"out-eml", "out-pst", "out-msg"}) {
        fs::remove_all(work / out);
    }

    const auto line = [&](const char* name, const Conversion& c) {
        std::cout << name << " conversion: " << Fixed(c.seconds) << " s, "
                  << Fixed(static_cast<double>(messages) / c.seconds, 0) << " messages/s, peak RSS "
                  << Fixed(c.peakMiB, 1) << " MiB" << (c.ok ? "" : " (FAILED)") << std::endl;
    };
    std::cout << "cp MAILBOX: " << Fixed(cp.seconds) << " s, "
              << Fixed(static_cast<double>(messages) / cp.seconds, 0) << " messages/s" << std::endl;
    line(".eml", eml);
    line(".pst", pst);
    std::cout << ".pst data file: " << Fixed(static_cast<double>(pstBytes) / (1 << 20), 1)
              << " MiB (" << Fixed(static_cast<double>(pstBytes) / static_cast<double>(bytes), 2)
              << " x the mailbox)" << std::endl;
    line(".msg", msg);
    std::cout << ".msg files written (with the run's data file): " << msgFiles << std::endl;
    std::cout << ".pst / .eml: " << Fixed(pst.seconds / eml.seconds, 2) << " (target <= 1.5)"
              << std::endl;
    std::cout << ".msg / .eml: " << Fixed(msg.seconds / eml.seconds, 2) << " (target <= 4)"
              << std::endl;
    fs::remove_all(work);
}

MBX_BENCH_SUITE(".pst and .msg conversion", 30, StoreSuite);

} // namespace
} // namespace mbx::bench
