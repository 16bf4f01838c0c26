// Import -> .msg -> .pst -> structural check of the .pst. Any exception, sanitizer report or
// checker fault is a finding: no input may stop a message from being written.
#include "harness.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/writer.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mbx;
    const auto message = mime::importRfc822(std::as_bytes(std::span(data, size)));
    const auto& dir = fuzz::scratchDir();
    msg::writeMsg(message, dir / "m.msg");
    {
        auto writer = pst::PstWriter::create(dir / "m.pst", "Fuzz");
        const auto folder = writer->addFolder(writer->ipmSubtree(), "Inbox");
        writer->addMessage(folder, message);
        writer->close();
    }
    const auto report = pst::checkFile(dir / "m.pst");
    if (!report.ok()) {
        fuzz::fail("pst check: " + report.faults.front());
    }
    return 0;
}
