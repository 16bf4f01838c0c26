#include "recording_sink.h"
#include "scanner/mailbox_reader.h"
#include "scratch.h"

#include <gtest/gtest.h>
#include <string>

namespace mbx::scanner {
namespace {

using testing::RecordingSink;
using testing::Warning;

constexpr const char* kSep = "From ???@???";
constexpr const char* kTitle = "File Reader";

// Drives the reader as the conversion run does: Open_MBOX, Find_Click, FindNext_Click until the
// end-of-search flag, CloseFile.
struct Harness {
    SearchState state;
    RecordingSink sink;
    MailboxReader reader;

    explicit Harness(std::size_t blockSize = MailboxReader::kDefaultBlockSize)
        : reader(state, sink, blockSize) {}

    void search(const std::string& path, const std::string& text = kSep) {
        state.reset();
        reader.Text2 = text;
        reader.Open_MBOX(path);
        reader.Find_Click();
        int guard = 0;
        while (!state.endOfSearch) {
            ASSERT_LT(++guard, 100000) << "search never ended";
            reader.FindNext_Click();
        }
        reader.CloseFile();
    }
};

class ReaderTest : public ::testing::Test {
protected:
    std::filesystem::path dir =
        testing::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string mailboxFile(const std::string& name, std::string_view bytes) {
        return testing::writeBytes(dir / name, bytes);
    }
};

const std::string k44 = "From ???@??? Mon\r\nHi\r\nFrom ???@??? Tue\r\nYo\r\n";

TEST_F(ReaderTest, FortyFourByteMailboxStepByStep) {
    ASSERT_EQ(k44.size(), 44u);
    const auto path = mailboxFile("a.mbx", k44);
    Harness h;
    h.reader.Text2 = kSep;
    h.reader.Open_MBOX(path);
    EXPECT_EQ(h.reader.Text1, path);
    EXPECT_EQ(h.sink.text1, std::vector<std::string>{path});
    EXPECT_EQ(h.reader.FileNo(), 1);
    EXPECT_EQ(h.reader.MatchPos(), -1);
    EXPECT_EQ(h.sink.surface, "FILE SIZE : 44 bytes\r\n");

    h.reader.Find_Click();
    EXPECT_EQ(h.state.offsetsText(), "0|");
    EXPECT_FALSE(h.state.endOfSearch);
    EXPECT_EQ(h.reader.MatchPos(), 0);
    EXPECT_EQ(h.reader.ReadPos(), 13); // match + length + 1
    // The echo: the match and what follows, 31 bytes here (R = 31, R - length = 19 after it).
    EXPECT_EQ(h.sink.surface, "FILE SIZE : 44 bytes\r\nByte :0\r\n" + k44.substr(0, 31));

    h.reader.FindNext_Click();
    EXPECT_EQ(h.state.offsetsText(), "0|22|");
    EXPECT_FALSE(h.state.endOfSearch);
    // From 22: R = 44 - 35 = 9, not above the length, so only the match itself is echoed.
    EXPECT_EQ(h.sink.surface, "FILE SIZE : 44 bytes\r\nByte :22\r\n" + std::string(kSep));

    h.reader.FindNext_Click();
    EXPECT_TRUE(h.state.endOfSearch);
    EXPECT_EQ(h.reader.MatchPos(), -1);
    EXPECT_FALSE(h.reader.MatchFlag());
    EXPECT_EQ(h.sink.surface, "FILE SIZE : 44 bytes\r\n\n\r\n[EOF]\r\n");
    EXPECT_EQ(h.state.offsetsText(), "0|22|");
    EXPECT_EQ(h.reader.FoundCount(), 2);
    EXPECT_EQ(h.sink.progress, (std::vector<int>{0, 50}));
    EXPECT_EQ(h.sink.happening,
              (std::vector<std::string>{"Searching for messages... Messages Found : 1",
                                        "Searching for messages... Messages Found : 2"}));

    // After the end only a beep.
    const auto beeps = h.sink.beeps;
    h.reader.FindNext_Click();
    EXPECT_EQ(h.sink.beeps, beeps + 1);
    EXPECT_TRUE(h.sink.warnings.empty());
    h.reader.CloseFile();
    EXPECT_EQ(h.reader.FileNo(), 0);
}

TEST_F(ReaderTest, ProgressRoundsHalfToEvenAndCountsMatches) {
    std::string big(2000, 'x');
    for (int at : {0, 500, 1000}) {
        big.replace(static_cast<std::size_t>(at), 12, kSep);
    }
    Harness h;
    h.search(mailboxFile("big.mbx", big));
    EXPECT_EQ(h.state.offsetsText(), "0|500|1000|");
    EXPECT_EQ(h.sink.progress, (std::vector<int>{0, 25, 50}));
    EXPECT_EQ(h.sink.happening.back(), "Searching for messages... Messages Found : 3");

    std::string small(200, 'y');
    small.replace(5, 12, kSep); // 5 / 200 = 2.5 %
    Harness h2;
    h2.search(mailboxFile("small.mbx", small));
    EXPECT_EQ(h2.state.offsetsText(), "5|");
    EXPECT_EQ(h2.sink.progress, std::vector<int>{2});

    std::string odd(200, 'y');
    odd.replace(7, 12, kSep); // 3.5 % rounds to 4
    Harness h3;
    h3.search(mailboxFile("odd.mbx", odd));
    EXPECT_EQ(h3.sink.progress, std::vector<int>{4});
}

TEST_F(ReaderTest, WhichOccurrencesCount) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string offsets;
    };
    const std::vector<Case> cases = {
        {"mid-line", "Hello From ???@??? there\r\n", "6|"},
        {"extra F hides it", "FFrom ???@??? x\r\nFrom ???@??? y\r\n", "17|"},
        {"From From hides the second", "From From ???@??? x\r\nFrom ???@??? y\r\n", "21|"},
        {"last byte of the file", "abcFrom ???@???", ""},
        {"one byte after it", "abcFrom ???@???\n", "3|"},
        {"only the separator", "From ???@???", ""},
        {"question mark is no wildcard", "From a??@??? x\r\nFrom ???@??X y\r\n", ""},
        {"lower case is not a match", "from ???@??? x\r\n", ""},
        {"binary around it", std::string("\0\xff\x1a", 3) + "From ???@???" + std::string("\0\n", 2),
         "3|"},
    };
    for (const auto& c : cases) {
        Harness h;
        h.search(mailboxFile("case.mbx", c.bytes));
        EXPECT_EQ(h.state.offsetsText(), c.offsets) << c.name;
        EXPECT_TRUE(h.state.endOfSearch) << c.name;
    }
}

TEST_F(ReaderTest, MatchesNeverOverlap) {
    Harness h;
    h.search(mailboxFile("aaaa", "aaaaa"), "aa");
    EXPECT_EQ(h.state.offsetsText(), "0|2|");
}

TEST_F(ReaderTest, CaseSettingUsesWindows1252UpperCase) {
    const auto path =
        mailboxFile("lower.mbx", "from ???@??? x\r\nFROM ???@??? y\r\n\xe9t\xc9 z\r\n");
    Harness exact;
    exact.search(path);
    EXPECT_EQ(exact.state.offsetsText(), "");

    Harness folded;
    folded.reader.Check1 = false;
    folded.search(path);
    EXPECT_EQ(folded.state.offsetsText(), "0|16|");
    EXPECT_EQ(folded.reader.SearchStr(), "FROM ???@???");

    // e acute and E acute are the same letter when case is ignored.
    Harness accent;
    accent.reader.Check1 = false;
    accent.search(path, "\xc9T\xe9");
    EXPECT_EQ(accent.state.offsetsText(), "32|");
    EXPECT_EQ(upperCase1252(0xff), 0x9f);
    EXPECT_EQ(upperCase1252(0xf7), 0xf7);
    EXPECT_EQ(upperCase1252(0xdf), 0xdf);
}

TEST_F(ReaderTest, QuotedSearchText) {
    const auto path = mailboxFile("q.mbx", "xFrom a\r\nFrom\r\nab\"\"cd\r\n");
    Harness spaced;
    spaced.search(path, "\"From \"");
    EXPECT_EQ(spaced.reader.SearchStr(), "From ");
    EXPECT_EQ(spaced.reader.SearchLen(), 5);
    EXPECT_EQ(spaced.state.offsetsText(), "1|");

    Harness quotes;
    quotes.search(path, "\"\"");
    EXPECT_EQ(quotes.reader.SearchStr(), "\"\"");
    EXPECT_EQ(quotes.state.offsetsText(), "17|");

    // A lone quote stays a quote.
    Harness one;
    one.search(path, "\"");
    EXPECT_EQ(one.state.offsetsText(), "17|18|");
}

TEST_F(ReaderTest, TwoMailboxesInARow) {
    const auto first = mailboxFile("1.mbx", k44);
    const auto second = mailboxFile("2.mbx", "junk\r\nFrom ???@??? x\r\n");
    SearchState state;
    RecordingSink sink;
    MailboxReader reader(state, sink);
    for (const auto& path : {first, second}) {
        reader.Text2 = kSep;
        state.endOfSearch = false; // the offsets text is left to grow
        reader.Open_MBOX(path);
        reader.Find_Click();
        while (!state.endOfSearch) {
            reader.FindNext_Click();
        }
        reader.CloseFile();
    }
    EXPECT_EQ(state.offsetsText(), "0|22|6|");
    EXPECT_EQ(reader.FoundCount(), 1);
    EXPECT_EQ(sink.happening.back(), "Searching for messages... Messages Found : 1");
    EXPECT_TRUE(sink.warnings.empty());
}

TEST_F(ReaderTest, TinyFilesAreRefusedWithTheExactWarnings) {
    for (const auto& bytes : {std::string(), std::string("F")}) {
        Harness h;
        const auto path = mailboxFile("tiny.mbx", bytes);
        h.search(path);
        const Warning size{"File size is " + std::to_string(bytes.size()) +
                               " byte !\r\rFile can not open for string searching !",
                           desktop::Icon::Exclamation, kTitle};
        const Warning couldNot{"File could not open !", desktop::Icon::Exclamation, kTitle};
        EXPECT_EQ(h.sink.warnings, (std::vector<Warning>{size, size, couldNot}));
        EXPECT_EQ(h.sink.beeps, 3);
        EXPECT_TRUE(h.state.endOfSearch);
        EXPECT_EQ(h.state.offsetsText(), "");
        EXPECT_EQ(h.reader.FileNo(), 0);
    }

    Harness two;
    two.search(mailboxFile("two.mbx", "Fr"));
    EXPECT_TRUE(two.sink.warnings.empty());
    EXPECT_EQ(two.sink.beeps, 0);
    EXPECT_EQ(two.sink.surface, "FILE SIZE : 2 bytes\r\n\n\r\n[EOF]\r\n");
    EXPECT_TRUE(two.state.endOfSearch);
}

TEST_F(ReaderTest, MissingFileAndFolderAreNotFound) {
    std::filesystem::create_directories(dir / "folder.mbx");
    for (const auto& path : {(dir / "missing.mbx").string(), (dir / "folder.mbx").string()}) {
        Harness h;
        h.search(path);
        EXPECT_EQ(h.sink.warnings,
                  (std::vector<Warning>{{"File not found !", desktop::Icon::Exclamation, kTitle}}))
            << path;
        EXPECT_EQ(h.sink.focus, 1);
        EXPECT_TRUE(h.state.endOfSearch);
        EXPECT_EQ(h.reader.Text1, path);
    }
}

TEST_F(ReaderTest, WindowButtonsOnTheirOwn) {
    Harness h;
    // Find with an empty file name.
    h.reader.Text1 = "   ";
    h.reader.Find_Click();
    EXPECT_EQ(h.sink.warnings, (std::vector<Warning>{{"Enter name of the file to be searched...",
                                                      desktop::Icon::None, kTitle}}));
    // Close with nothing open beeps.
    h.sink.warnings.clear();
    const int beeps = h.sink.beeps;
    h.reader.Close_Click();
    EXPECT_EQ(h.sink.beeps, beeps + 1);
    h.reader.CloseFile();
    EXPECT_EQ(h.reader.FileNo(), 0);

    // Find opens the file named in Text1 (trimmed) and searches from the start.
    const auto path = mailboxFile("w.mbx", k44);
    h.reader.Text1 = "  " + path + " ";
    h.reader.Text2 = kSep;
    h.reader.Find_Click();
    EXPECT_EQ(h.reader.FilePath(), path);
    EXPECT_EQ(h.reader.MatchPos(), 0);
    // A second open while one is open is refused, and resets only the count.
    h.reader.Open_MBOX(path);
    EXPECT_EQ(h.sink.warnings, (std::vector<Warning>{{"Close current file before open a file!",
                                                      desktop::Icon::Exclamation, ""}}));
    EXPECT_EQ(h.reader.FoundCount(), 0);
    EXPECT_EQ(h.reader.FileNo(), 1);
    h.reader.CloseFile();
    // FindNext between Open_MBOX and the Find step only beeps.
    h.reader.Open_MBOX(path);
    const int before = h.sink.beeps;
    h.reader.FindNext_Click();
    EXPECT_EQ(h.sink.beeps, before + 1);
    EXPECT_EQ(h.reader.FoundCount(), 0);
    // Find again searches from offset 0 on the open file.
    h.reader.Find_Click();
    EXPECT_EQ(h.reader.MatchPos(), 0);
    h.reader.Close_Click();
    EXPECT_EQ(h.reader.FileNo(), 0);
}

TEST_F(ReaderTest, FindWithoutANameForgetsTheOpenFile) {
    Harness h;
    h.reader.Text1 = mailboxFile("f.mbx", k44);
    h.reader.Text2 = kSep;
    h.reader.Find_Click();
    ASSERT_EQ(h.state.offsetsText(), "0|");
    h.reader.Text1.clear();
    h.reader.Find_Click();
    EXPECT_EQ(h.reader.FileNo(), 0);
    EXPECT_TRUE(h.state.endOfSearch);
    // Nothing of the forgotten file is searched any more.
    h.state.endOfSearch = false;
    h.reader.FindNext_Click();
    EXPECT_EQ(h.state.offsetsText(), "0|");
    EXPECT_TRUE(h.state.endOfSearch);
}

TEST_F(ReaderTest, HiddenSurfaceGivesTheSameResults) {
    std::string mailbox;
    for (int i = 0; i < 50; ++i) {
        mailbox +=
            "From ???@??? day " + std::to_string(i) + "\r\n" + std::string(i * 37, 'z') + "\r\n";
    }
    const auto path = mailboxFile("m.mbx", mailbox);
    Harness shown;
    shown.search(path);
    Harness hidden;
    hidden.sink.shown = false;
    hidden.search(path);
    EXPECT_EQ(hidden.state.offsets, shown.state.offsets);
    EXPECT_EQ(hidden.sink.progress, shown.sink.progress);
    EXPECT_EQ(hidden.sink.happening, shown.sink.happening);
    EXPECT_EQ(hidden.sink.clears, 0);
    EXPECT_EQ(hidden.sink.surface, "");
    EXPECT_EQ(shown.state.offsets.size(), 50u);
}

TEST_F(ReaderTest, StopRequestEndsTheSearch) {
    std::string mailbox;
    for (int i = 0; i < 200; ++i) {
        mailbox += "From ???@??? x\r\n" + std::string(100, 'b') + "\r\n";
    }
    Harness h(64);
    h.sink.yieldsBeforeStop = 5;
    h.search(mailboxFile("stop.mbx", mailbox));
    EXPECT_TRUE(h.state.endOfSearch);
    EXPECT_LT(h.state.offsets.size(), 200u);
}

TEST(SearchStateTest, OffsetsTextRoundTrip) {
    SearchState s;
    EXPECT_EQ(s.offsetsText(), "");
    s.offsets = {0, 1234, 5000000000ULL};
    EXPECT_EQ(s.offsetsText(), "0|1234|5000000000|");
    EXPECT_EQ(parseOffsetsText(s.offsetsText()), s.offsets);
    EXPECT_TRUE(parseOffsetsText("").empty());
    s.reset();
    EXPECT_TRUE(s.offsets.empty());
    EXPECT_FALSE(s.endOfSearch);
}

} // namespace
} // namespace mbx::scanner
