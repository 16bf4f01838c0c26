// One .msg file from one 50 KB Internet message (plain text, HTML and a 22 KB attachment):
// import + write, as the .msg target does per message. Prints the median over the runs of the
// time per message, each run the average of 200 rounds.
#include "bench/bench_support.h"
#include "bench/registry.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace mbx::bench {
namespace {

namespace fs = std::filesystem;

std::string base64Lines(const std::string& data) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(data[i]) << 16;
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        if (n > 1) {
            v |= static_cast<std::uint8_t>(data[i + 1]) << 8;
        }
        if (n > 2) {
            v |= static_cast<std::uint8_t>(data[i + 2]);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? digits[(v >> (18 - 6 * k)) & 63] : '=';
        }
        if ((column += 4) == 76) {
            out += "\r\n";
            column = 0;
        }
    }
    return out + "\r\n";
}

std::string fiftyKilobyteMessage() {
    std::string noise(22000, '\0');
    std::uint32_t x = 4;
    for (char& c : noise) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return "From: speed@example.com\r\nTo: a@example.com, b@example.com\r\n"
           "Subject: Speed\r\nDate: Mon, 07 Dec 2026 03:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"s\"\r\n\r\n--s\r\n"
           "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\n--a\r\n"
           "Content-Type: text/plain\r\n\r\n" +
           std::string(8000, 't') + "\r\n--a\r\nContent-Type: text/html\r\n\r\n<html><body>" +
           std::string(12000, 'h') +
           "</body></html>\r\n--a--\r\n--s\r\nContent-Type: application/octet-stream\r\n"
           "Content-Disposition: attachment; filename=\"f.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           base64Lines(noise) + "--s--\r\n";
}

void msgMessageSuite() {
    const auto work =
        fs::temp_directory_path() / ("mbxvane-bench-msg-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const fs::path eml = work / "speed.eml";
    const fs::path msg = work / "speed.msg";
    const std::string text = fiftyKilobyteMessage();
    std::ofstream(eml, std::ios::binary) << text;
    constexpr int kRounds = 200;
    std::vector<double> perMessage;
    for (std::uint64_t run = 0; run < envNumber("MBXVANE_BENCH_RUNS", 5); ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            msg::writeMsg(mime::importRfc822(eml), msg);
        }
        perMessage.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kRounds);
    }
    std::cout << "50 KB message to .msg (" << text.size() << " bytes): import + write "
              << formatFixed(median(perMessage), 2) << " ms per message, " << fs::file_size(msg)
              << " bytes written" << std::endl;
    fs::remove_all(work);
}

MBX_BENCH_SUITE("one 50 KB message to .msg", 50, msgMessageSuite);

} // namespace
} // namespace mbx::bench
