// The block scan (through the reader window's steps and as one whole-file search) against a
// literal one-byte-at-a-time reading of the search rules, on random files full of near-misses,
// with read blocks small enough that candidates cross block edges.
#include "recording_sink.h"
#include "scanner/mailbox_reader.h"
#include "scratch.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace mbx::scanner {
namespace {

struct Reference {
    std::vector<std::uint64_t> offsets;
    std::vector<int> progress;
};

// Reads one byte per step from ReadPos and restarts after the byte that failed, exactly as the
// search has always been described; matches restart at MatchPos + length.
Reference ReferenceSearch(const std::string& file, const std::string& text, bool exactCase) {
    Reference out;
    const auto size = static_cast<std::int64_t>(file.size());
    std::string pattern = text;
    if (!exactCase) {
        for (auto& c : pattern) {
            c = static_cast<char>(UpperCase1252(static_cast<unsigned char>(c)));
        }
    }
    const auto len = static_cast<std::int64_t>(pattern.size());
    std::int64_t readPos = 0;
    while (true) {
        std::int64_t match = -1;
        while (size - len > readPos) {
            bool flag = true;
            for (std::int64_t j = 1; j <= len; ++j) {
                ++readPos;
                auto b = static_cast<unsigned char>(file[static_cast<std::size_t>(readPos - 1)]);
                if (!exactCase) {
                    b = UpperCase1252(b);
                }
                if (b != static_cast<unsigned char>(pattern[static_cast<std::size_t>(j - 1)])) {
                    flag = false;
                    break;
                }
            }
            if (flag) {
                readPos -= len;
                match = readPos;
                break;
            }
        }
        if (match < 0) {
            return out;
        }
        out.offsets.push_back(static_cast<std::uint64_t>(match));
        out.progress.push_back(static_cast<int>(
            std::nearbyint(static_cast<double>(match) / static_cast<double>(size) * 100.0)));
        readPos = match + len;
    }
}

TEST(ReaderRandomTest, BlockScanFindsWhatTheByteScanFinds) {
    const auto dir = testing::ScratchDir("random");
    std::mt19937 rng(20261207);
    const std::vector<std::string> pieces = {
        "From ???@???", "From ", "FFrom ???@???", "F", "Fr",           "rom", "???@???", "?",
        "\r\n",         "\n",    "from ???@???",  "x", "FROM ???@???", " ",   "From ??", "@"};
    const std::vector<std::string> texts = {"From ???@???", "From", "F", "??", "\"From \""};
    const std::vector<std::size_t> blocks = {1, 2, 5, 13, 64, MailboxReader::kDefaultBlockSize};
    int compared = 0;
    for (int round = 0; round < 120; ++round) {
        std::string file;
        const int count = static_cast<int>(rng() % 200);
        for (int i = 0; i < count; ++i) {
            file += pieces[rng() % pieces.size()];
        }
        if (file.size() < 2) {
            file += "ab";
        }
        const auto path = testing::WriteFile(dir / "r.mbx", file);
        const auto& typed = texts[rng() % texts.size()];
        const bool exact = rng() % 3 != 0;
        const auto block = blocks[rng() % blocks.size()];

        std::string plain = typed;
        if (plain.size() > 2 && plain.front() == '"' && plain.back() == '"') {
            plain = plain.substr(1, plain.size() - 2);
        }
        const auto expected = ReferenceSearch(file, plain, exact);

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
        // The engine's whole-file search gives the same offsets.
        ASSERT_EQ(FindSeparators(path, plain, {exact, block}).offsets, expected.offsets)
            << "round " << round;
        compared += static_cast<int>(expected.offsets.size());
    }
    // The random files must actually contain matches for the comparison to mean something.
    EXPECT_GT(compared, 500);
}

} // namespace
} // namespace mbx::scanner
