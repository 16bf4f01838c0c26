// The whole-file separator search against a literal one-byte-at-a-time reading of the search
// rules, on random files full of near-misses, with read blocks small enough that candidates cross
// block edges.
#include "reference_search.h"
#include "scanner/separator_search.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace mbx::scanner {
namespace {

TEST(SeparatorSearchTest, BlockScanFindsWhatTheByteScanFinds) {
    const auto dir = testing::scratchDir("separator-random");
    std::mt19937 rng(20261207);
    const std::vector<std::string> texts = {"From ???@???", "From", "F", "??", "From "};
    const std::vector<std::size_t> blocks = {1, 2, 5, 13, 64, SeparatorSearch::kDefaultBlockSize};
    std::size_t compared = 0;
    for (int round = 0; round < 120; ++round) {
        const std::string file = randomMailbox(rng);
        const auto path = testing::writeFile(dir / "r.mbx", file);
        const auto& text = texts[rng() % texts.size()];
        const bool exact = rng() % 3 != 0;
        const auto block = blocks[rng() % blocks.size()];
        const auto expected = referenceSearch(file, text, exact).offsets;
        const auto found = findSeparators(path, text, {exact, block});
        ASSERT_EQ(found.status, SearchResult::Status::Done) << "round " << round;
        ASSERT_EQ(found.offsets, expected)
            << "round " << round << " text " << text << " block " << block;
        compared += expected.size();
    }
    // The random files must actually contain matches for the comparison to mean something.
    EXPECT_GT(compared, 500u);
    // Windows-1252 upper case: y diaeresis has one, division sign and sharp s do not.
    EXPECT_EQ(upperCase1252(0xff), 0x9f);
    EXPECT_EQ(upperCase1252(0xf7), 0xf7);
    EXPECT_EQ(upperCase1252(0xdf), 0xdf);
}

} // namespace
} // namespace mbx::scanner
