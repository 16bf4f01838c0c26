// The reader's Find steps against a literal one-byte-at-a-time reading of the search rules, on
// random files full of near-misses, with read blocks small enough that candidates cross block
// edges: offsets, progress and count, with and without the text surface.
#include "reader/mailbox_reader.h"
#include "recording_sink.h"
#include "tests/scanner/reference_search.h"
#include "tests/support/files.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace mbx::reader {
namespace {

TEST(ReaderRandomTest, BlockScanFindsWhatTheByteScanFinds) {
    const auto dir = testing::scratchDir("random");
    std::mt19937 rng(20261207);
    const std::vector<std::string> texts = {"From ???@???", "From", "F", "??", "\"From \""};
    const std::vector<std::size_t> blocks = {1, 2, 5, 13, 64, MailboxReader::kDefaultBlockSize};
    int compared = 0;
    for (int round = 0; round < 120; ++round) {
        const std::string file = scanner::randomMailbox(rng);
        const auto path = testing::writeFile(dir / "r.mbx", file);
        const auto& typed = texts[rng() % texts.size()];
        const bool exact = rng() % 3 != 0;
        const auto block = blocks[rng() % blocks.size()];

        std::string plain = typed;
        if (plain.size() > 2 && plain.front() == '"' && plain.back() == '"') {
            plain = plain.substr(1, plain.size() - 2);
        }
        const auto expected = scanner::referenceSearch(file, plain, exact);

        SearchState state;
        testing::RecordingSink sink;
        sink.shown = (round % 2) == 0;
        MailboxReader reader(state, sink, block);
        reader.Check1 = exact;
        reader.Text2 = typed;
        reader.Open_MBOX(path);
        reader.Find_Click();
        int guard = 0;
        while (!state.endOfSearch && ++guard < 10000) {
            reader.FindNext_Click();
        }
        reader.CloseFile();
        ASSERT_EQ(state.offsets, expected.offsets)
            << "round " << round << " text " << typed << " block " << block;
        ASSERT_EQ(sink.progress, expected.progress) << "round " << round;
        ASSERT_EQ(reader.FoundCount(), static_cast<std::int64_t>(expected.offsets.size()));
        compared += static_cast<int>(expected.offsets.size());
    }
    // The random files must actually contain matches for the comparison to mean something.
    EXPECT_GT(compared, 500);
}

} // namespace
} // namespace mbx::reader
