// How the stages of one message's conversion grow with its MIME parts: a generated
// multipart/mixed message of N small attachments is imported, written as a .msg, written into a
// new .pst in memory and the .pst checked; each stage's CPU time per part is printed for every
// N (named attachments, then empty parts), so a stage that grows faster than its input shows as a
// rising column.
//   mbxvane-bench parts [N ...]        (default 300 1000 3000 10000)
#include "bench/bench_support.h"
#include "bench/registry.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/writer.h"

#include <ctime>
#include <iostream>
#include <span>
#include <string>
#include <vector>

namespace mbx::bench {
namespace {

// `named`: attachments with a name and a line of content; else empty parts without headers, as
// the fuzzer grows them.
std::string manyParts(std::size_t parts, bool named) {
    std::string text = "From: parts@example.com\r\nTo: a@example.com\r\nSubject: Parts\r\n"
                       "Date: Mon, 07 Dec 2026 03:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed; boundary=\"p\"\r\n\r\n"
                       "--p\r\nContent-Type: text/plain\r\n\r\nSee the files.\r\n";
    for (std::size_t i = 0; i < parts; ++i) {
        const std::string n = std::to_string(i);
        if (!named) {
            text += "--p\r\n\r\n\r\n";
            continue;
        }
        text += "--p\r\nContent-Type: application/octet-stream; name=\"f" + n +
                ".bin\"\r\nContent-Disposition: attachment; filename=\"f" + n +
                ".bin\"\r\n\r\npart " + n + "\r\n";
    }
    return text + "--p--\r\n";
}

double cpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

int partsCommand(const std::vector<std::string>& args) {
    std::vector<std::size_t> counts;
    for (const auto& a : args) {
        counts.push_back(std::stoul(a));
    }
    if (counts.empty()) {
        counts = {300, 1000, 3000, 10000};
    }
    std::cout << "parts    bytes  CPU us per part: import   .msg   .pst  check  (attachments)\n";
    for (const bool named : {true, false})
        for (const std::size_t n : counts) {
            const std::string text = manyParts(n, named);
            const auto bytes = std::as_bytes(std::span(text.data(), text.size()));
            double t = cpuSeconds();
            const auto message = mime::importRfc822(bytes);
            const double import = cpuSeconds() - t;
            std::vector<std::uint8_t> msgImage;
            t = cpuSeconds();
            msg::writeMsg(message, msgImage);
            const double msgWrite = cpuSeconds() - t;
            std::vector<std::uint8_t> pstImage;
            t = cpuSeconds();
            {
                auto writer = pst::PstWriter::createInMemory(pstImage, "Parts");
                writer->addMessage(writer->addFolder(writer->ipmSubtree(), "Inbox"), message);
                writer->close();
            }
            const double pstWrite = cpuSeconds() - t;
            t = cpuSeconds();
            const auto report = pst::checkImage(pstImage);
            const double check = cpuSeconds() - t;
            const auto perPart = [n](double s) { return formatFixed(s * 1e6 / double(n), 1); };
            std::cout << n << "  " << text.size() << "  " << perPart(import) << "  "
                      << perPart(msgWrite) << "  " << perPart(pstWrite) << "  " << perPart(check)
                      << "  (" << message.attachments.size()
                      << (report.ok() ? ", check ok" : ", FAULT") << ")" << std::endl;
            if (!report.ok()) {
                std::cout << report.faults.front() << '\n';
                return 1;
            }
        }
    return 0;
}

MBX_BENCH_COMMAND("parts", partsCommand);

} // namespace
} // namespace mbx::bench
