// One message carrying one large attachment (200 MiB, base64 as mail carries it): the peak
// memory of each target against the size of the message. A message is parsed whole, so a
// conversion holds it and the decoded attachment at least once; what it holds beyond that is
// what this suite shows.
#include "bench/bench_support.h"
#include "bench/registry.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <unistd.h>

namespace mbx::bench {
namespace {

namespace fs = std::filesystem;

// A mailbox of one message whose attachment is `mib` MiB of random bytes; its size in bytes.
std::uint64_t writeLargeAttachmentMailbox(const fs::path& path, std::uint64_t mib) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::ofstream out(path, std::ios::binary);
    out << "From ???@??? Mon Jan 05 10:00:00 2004\r\n"
           "From: Sender <sender@example.org>\r\n"
           "To: Receiver <receiver@example.org>\r\n"
           "Subject: A large attachment\r\n"
           "Date: Mon, 05 Jan 2004 10:00:00 +0000\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nThe file is attached.\r\n"
           "--b\r\nContent-Type: application/octet-stream\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"large.bin\"\r\n\r\n";
    // 57 random bytes a line, 76 characters of base64 (the digits themselves are random: the
    // decoded bytes are as random as a compressed file's).
    std::mt19937 random(7);
    std::string line(76, 'A');
    line += "\r\n";
    for (std::uint64_t bytes = 0; bytes < mib << 20; bytes += 57) {
        for (std::size_t i = 0; i < 76; ++i) {
            line[i] = kAlphabet[random() % 64];
        }
        out << line;
    }
    out << "--b--\r\n";
    out.close();
    return fs::file_size(path);
}

void largeAttachmentSuite() {
    const std::uint64_t mib = 200;
    const auto self = fs::read_symlink("/proc/self/exe").string();
    const auto work =
        fs::temp_directory_path() / ("mbxvane-bench-attachment-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const auto mailbox = work / "large.mbx";
    const double size = static_cast<double>(writeLargeAttachmentMailbox(mailbox, mib)) / (1 << 20);
    std::cout << "mailbox: 1 message, " << formatFixed(size, 1) << " MiB, a " << mib
              << " MiB attachment" << std::endl;
    for (const char* format : {"pst", "msg", "eml"}) {
        const auto out = work / (std::string("out-") + format);
        fs::create_directories(out);
        const auto r = runChild(
            {self, "convert", "--format", format, "--out", out.string(), mailbox.string()});
        const double peak = static_cast<double>(r.maxRssKiB) / 1024;
        std::cout << "." << format << " with a " << mib
                  << " MiB attachment: " << formatFixed(r.seconds) << " s, peak RSS "
                  << formatFixed(peak, 1) << " MiB = " << formatFixed(peak / size, 2)
                  << " x the message" << (r.status == 0 ? "" : " (FAILED)") << std::endl;
        fs::remove_all(out);
    }
    fs::remove_all(work);
}

} // namespace

MBX_BENCH_SUITE("one message with a large attachment", 45, largeAttachmentSuite);

} // namespace mbx::bench
