#include "reader/mailbox_reader.h"
#include "recording_sink.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace mbx::reader {
namespace {

using testing::RecordingSink;
using testing::Warning;

constexpr const char* kSep = "From ???@???";
constexpr const char* kTitle = "File Reader";

// Drives the reader as the File Reader window does: Open_MBOX, Find_Click, FindNext_Click until
// the end-of-search flag, CloseFile.
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
        return testing::writeFile(dir / name, bytes);
    }
};

const std::string k44 = "From ???@??? Mon\r\nHi\r\nFrom ???@??? Tue\r\nYo\r\n";

std::string withSeparatorsAt(std::size_t size, std::initializer_list<std::size_t> at) {
    std::string s(size, 'x');
    for (const auto a : at) {
        s.replace(a, 12, kSep);
    }
    return s;
}

TEST_F(ReaderTest, WhichOccurrencesCountAndTheProgressTheyShow) {
    const std::string cases = "from ???@??? x\r\nFROM ???@??? y\r\n\xe9t\xc9 z\r\n";
    const std::string quotes = "xFrom a\r\nFrom\r\nab\"\"cd\r\n";
    const struct {
        const char* name;
        std::string bytes;
        std::string offsets;
        std::string text = kSep;
        bool exactCase = true;
        std::optional<std::vector<int>> progress = std::nullopt;
    } table[] = {
        {"mid-line", "Hello From ???@??? there\r\n", "6|"},
        {"extra F hides it", "FFrom ???@??? x\r\nFrom ???@??? y\r\n", "17|"},
        {"From From hides the second", "From From ???@??? x\r\nFrom ???@??? y\r\n", "21|"},
        {"last byte of the file", "abcFrom ???@???", ""},
        {"one byte after it", "abcFrom ???@???\n", "3|"},
        {"only the separator", "From ???@???", ""},
        {"question mark is no wildcard", "From a??@??? x\r\nFrom ???@??X y\r\n", ""},
        {"binary around it", std::string("\0\xff\x1a", 3) + kSep + std::string("\0\n", 2), "3|"},
        {"matches never overlap", "aaaaa", "0|2|", "aa"},
        {"lower case is not a match", cases, ""},
        {"case ignored", cases, "0|16|", kSep, false},
        {"e acute is E acute when case is ignored", cases, "32|", "\xc9T\xe9", false},
        {"quotes keep a trailing blank", quotes, "1|", "\"From \""},
        {"two quotes alone are text", quotes, "17|", "\"\""},
        {"a lone quote stays a quote", quotes, "17|18|", "\""},
        {"progress per match", withSeparatorsAt(2000, {0, 500, 1000}), "0|500|1000|", kSep, true,
         std::vector<int>{0, 25, 50}},
        {"2.5 % rounds to even", withSeparatorsAt(200, {5}), "5|", kSep, true, std::vector<int>{2}},
        {"3.5 % rounds to even", withSeparatorsAt(200, {7}), "7|", kSep, true, std::vector<int>{4}},
    };
    for (const auto& c : table) {
        Harness h;
        h.reader.Check1 = c.exactCase;
        h.search(mailboxFile("case.mbx", c.bytes), c.text);
        EXPECT_EQ(h.state.offsetsText(), c.offsets) << c.name;
        EXPECT_TRUE(h.state.endOfSearch) << c.name;
        if (c.progress) {
            EXPECT_EQ(h.sink.progress, *c.progress) << c.name;
            EXPECT_EQ(h.sink.happening.back(), "Searching for messages... Messages Found : " +
                                                   std::to_string(c.progress->size()));
        }
    }
}

TEST_F(ReaderTest, TheCountStartsAgainForTheNextMailbox) {
    const auto first = mailboxFile("1.mbx", k44);
    const auto second = mailboxFile("2.mbx", "junk\r\nFrom ???@??? x\r\n");
    Harness h;
    h.search(first);
    h.search(second);
    EXPECT_EQ(h.reader.FoundCount(), 1);
    EXPECT_EQ(h.sink.happening.back(), "Searching for messages... Messages Found : 1");
    EXPECT_TRUE(h.sink.warnings.empty());
}

TEST_F(ReaderTest, TinyFilesAreRefusedWithTheExactWarnings) {
    for (const auto& bytes : {std::string(), std::string("F")}) {
        Harness h;
        h.search(mailboxFile("tiny.mbx", bytes));
        const Warning size{"File size is " + std::to_string(bytes.size()) +
                               " byte !\r\rFile can not open for string searching !",
                           desktop::Icon::Exclamation, kTitle};
        const Warning couldNot{"File could not open !", desktop::Icon::Exclamation, kTitle};
        EXPECT_EQ(h.sink.warnings, (std::vector<Warning>{size, size, couldNot}));
        EXPECT_EQ(h.sink.beeps, 3);
        EXPECT_EQ(h.state.offsetsText(), "");
    }
    // Two bytes are enough to be searched.
    Harness two;
    two.search(mailboxFile("two.mbx", "Fr"));
    EXPECT_TRUE(two.sink.warnings.empty());
    EXPECT_EQ(two.sink.surface, "FILE SIZE : 2 bytes\r\n\n\r\n[EOF]\r\n");
}

TEST_F(ReaderTest, ButtonsPressedOutOfTurn) {
    Harness h;
    h.reader.Close_Click(); // nothing open: a beep
    EXPECT_EQ(h.sink.beeps, 1);

    // Find opens the file named in Text1 (trimmed); a second open while one is open is refused.
    const auto path = mailboxFile("w.mbx", k44);
    h.reader.Text1 = "  " + path + " ";
    h.reader.Text2 = kSep;
    h.reader.Find_Click();
    EXPECT_EQ(h.state.offsetsText(), "0|");
    h.reader.Open_MBOX(path);
    EXPECT_EQ(h.sink.warnings, (std::vector<Warning>{{"Close current file before open a file!",
                                                      desktop::Icon::Exclamation, ""}}));
    h.reader.CloseFile();
    // Next before the first Find only beeps.
    h.reader.Open_MBOX(path);
    const int beeps = h.sink.beeps;
    h.reader.FindNext_Click();
    EXPECT_EQ(h.sink.beeps, beeps + 1);
    EXPECT_EQ(h.reader.FoundCount(), 0);
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

} // namespace
} // namespace mbx::reader
