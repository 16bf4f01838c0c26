// Import -> .msg -> .pst -> structural check of the .pst, all in memory (the writers' on-disk
// paths have tests of their own). Any exception, sanitizer report or checker fault is a finding:
// no input may stop a message from being written.
#include "harness.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/writer.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mbx;
    const auto message = mime::importRfc822(std::as_bytes(std::span(data, size)));
    // Kept between inputs, as the program keeps its buffers between messages.
    static std::vector<std::uint8_t> msg;
    static std::vector<std::uint8_t> pst;
    msg.clear();
    msg::writeMsg(message, msg);
    fuzz::check(msg.size() >= 1536 && msg.size() % 512 == 0, "compound file size");
    {
        auto writer = pst::PstWriter::createInMemory(pst, "Fuzz");
        const auto folder = writer->addFolder(writer->ipmSubtree(), "Inbox");
        writer->addMessage(folder, message);
        writer->close();
    }
    const auto report = pst::checkImage(pst);
    if (!report.ok()) {
        fuzz::fail("pst check: " + report.faults.front());
    }
    return 0;
}
