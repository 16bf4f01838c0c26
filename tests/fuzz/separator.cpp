// The separator search against the byte-at-a-time reference, then the cutting of the mailbox at
// the offsets found. The first input byte picks the search text, the case rule and the read block
// size (small blocks put candidates across block edges); the rest is the mailbox.
#include "convert/message_file.h"
#include "harness.h"
#include "tests/reader/recording_sink.h"
#include "tests/scanner/reference_search.h"

#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mbx;
    using fuzz::check;
    if (size < 3) {
        return 0;
    }
    static const char* const kTexts[] = {"From ???@???", "From", "F", "??", "\"From \"", "fROM ?"};
    static constexpr std::size_t kBlocks[] = {1, 2, 5, 13, 64, 4096};
    const std::uint8_t options = data[0];
    const std::string typed = kTexts[(options >> 1) % std::size(kTexts)];
    const bool exact = (options & 1) != 0;
    const std::size_t block = kBlocks[(options >> 4) % std::size(kBlocks)];
    const std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto path = fuzz::scratchDir() / "m.mbx";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(file.data(), static_cast<std::streamsize>(file.size()));

    std::string plain = typed;
    if (plain.size() > 2 && plain.front() == '"' && plain.back() == '"') {
        plain = plain.substr(1, plain.size() - 2);
    }
    const auto expected = scanner::referenceSearch(file, plain, exact);

    reader::SearchState state;
    testing::RecordingSink sink;
    sink.shown = (options & 0x80) != 0;
    reader::MailboxReader reader(state, sink, block);
    reader.Check1 = exact;
    reader.Text2 = typed;
    reader.Open_MBOX(path.string());
    reader.Find_Click();
    for (std::size_t guard = 0; !state.endOfSearch && guard <= file.size(); ++guard) {
        reader.FindNext_Click();
    }
    reader.CloseFile();
    check(state.endOfSearch, "search did not end");
    check(state.offsets == expected.offsets, "offsets differ from the byte scan");
    check(sink.progress == expected.progress, "progress differs from the byte scan");

    // Message k is the bytes from offset k to offset k + 1, the last one to the end of the file.
    convert::MailboxFile mailbox(block);
    check(mailbox.open(path.string()), "cannot open the mailbox");
    for (std::size_t k = 0; k < state.offsets.size(); ++k) {
        const std::uint64_t end = k + 1 < state.offsets.size() ? state.offsets[k + 1] : file.size();
        auto text = convert::readMessageText(mailbox, state.offsets, k, nullptr);
        std::string got;
        for (auto piece = text.next(); !piece.empty(); piece = text.next()) {
            got.append(piece);
        }
        check(!text.failed(), "message read failed");
        check(got == file.substr(state.offsets[k], end - state.offsets[k]),
              "message " + std::to_string(k) + " differs from the file's bytes");
    }
    return 0;
}
