#include "convert/message_file.h"
#include "tests/support/files.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mbx::convert {
namespace {

struct Recorder : ExtractObserver {
    std::vector<std::uint64_t> values;
    std::uint64_t total = 0;
    void byteUpdate(std::uint64_t soFar, std::uint64_t t) override {
        values.push_back(soFar);
        total = t;
    }
};

class ExtractTest : public ::testing::Test {
protected:
    std::filesystem::path dir =
        testing::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());

    // Writes every message of `mailbox` cut at `offsets`; returns the label values per message.
    std::vector<std::vector<std::uint64_t>> extract(const std::string& mailbox,
                                                    const std::vector<std::uint64_t>& offsets,
                                                    std::size_t blockSize = 1024 * 1024) {
        const auto path = testing::writeFile(dir / "box.mbx", mailbox);
        MailboxFile file(blockSize);
        EXPECT_TRUE(file.open(path));
        std::vector<std::vector<std::uint64_t>> labels;
        for (std::size_t k = 0; k < offsets.size(); ++k) {
            Recorder rec;
            auto text = readMessageText(file, offsets, k, &rec);
            EXPECT_EQ(writeMessageFile(dir.string(), k, ".eml", text).status,
                      WriteResult::Status::Written);
            if (!rec.values.empty()) {
                EXPECT_EQ(rec.total, mailbox.size());
            }
            labels.push_back(rec.values);
        }
        return labels;
    }
    std::string writtenMessage(std::size_t k) {
        return testing::slurp(dir / ("email-" + std::to_string(k) + ".eml"));
    }
};

std::string messageOfLength(std::size_t length, char fill = 'b') {
    std::string m = "From ???@??? x\r\n";
    m.resize(length, fill);
    return m;
}

std::vector<std::uint64_t> multiplesOf250(std::uint64_t upTo) {
    std::vector<std::uint64_t> v;
    for (std::uint64_t x = 250; x <= upTo; x += 250) {
        v.push_back(x);
    }
    return v;
}

TEST_F(ExtractTest, ChunkBoundariesOfAMessageFollowedByAnother) {
    for (const std::size_t length : {20, 249, 250, 251, 499, 500, 501, 600, 750, 1000}) {
        for (const std::size_t block : {std::size_t{3}, std::size_t{250}, std::size_t{1 << 20}}) {
            const auto first = messageOfLength(length);
            const auto second = messageOfLength(300, 'c');
            const auto labels = extract(first + second, {0, length}, block);
            // Every 250 bytes so far, up to and including the message length.
            EXPECT_EQ(labels[0], multiplesOf250(length)) << length << " block " << block;
            EXPECT_EQ(writtenMessage(0), first + "\r\n") << length;
            // The last message never shows the chunk that reaches the end of the file.
            EXPECT_EQ(labels[1], std::vector<std::uint64_t>{250}) << length;
            EXPECT_EQ(writtenMessage(1), second + "\r\n");
        }
    }
}

TEST_F(ExtractTest, ChunkBoundariesOfTheLastMessage) {
    const std::vector<std::pair<std::size_t, std::vector<std::uint64_t>>> cases = {
        {249, {}}, {250, {}}, {251, {250}}, {500, {250}}, {501, {250, 500}}, {750, {250, 500}}};
    for (const auto& [length, expected] : cases) {
        const std::string junk = "junk before\r\n";
        const auto message = messageOfLength(length);
        const auto labels = extract(junk + message, {junk.size()}, 7);
        EXPECT_EQ(labels[0], expected) << length;
        EXPECT_EQ(writtenMessage(0), message + "\r\n") << length;
    }
}

TEST_F(ExtractTest, BlanksAtTheEndsAreDroppedOthersKept) {
    // The last message ends in blanks without a line break; blanks inside stay; the blanks run
    // across small read blocks.
    const std::string first = "From ???@??? a\r\n  inner  blanks  \r\n";
    const std::string last = "From ???@??? b\r\nno line break" + std::string(40, ' ');
    extract(first + last, {0, first.size()}, 5);
    EXPECT_EQ(writtenMessage(0), first + "\r\n");
    EXPECT_EQ(writtenMessage(1), "From ???@??? b\r\nno line break\r\n");

    // Leading blanks (an offset that is not at a separator) and a message of blanks only.
    extract("   From x  \r\n     ", {0, 13}, 2);
    EXPECT_EQ(writtenMessage(0), "From x  \r\n\r\n");
    EXPECT_EQ(writtenMessage(1), "\r\n");
}

TEST_F(ExtractTest, LineEndsAndBinaryBytesAreCopiedUnchanged) {
    const std::string lf = "From ???@??? a\nline\n\nFrom ???@??? b\nz\n";
    extract(lf, {0, 21});
    EXPECT_EQ(writtenMessage(0), "From ???@??? a\nline\n\n\r\n");
    EXPECT_EQ(writtenMessage(1), "From ???@??? b\nz\n\r\n");

    std::string binary = "From ???@??? c\r\n";
    for (int b = 0; b < 256; ++b) {
        binary.push_back(static_cast<char>(b));
    }
    binary += "\x1a\r\n";
    const std::string next = "From ???@??? d\r\n";
    extract(binary + next, {0, binary.size()}, 100);
    EXPECT_EQ(writtenMessage(0), binary + "\r\n");
    EXPECT_EQ(writtenMessage(1), next + "\r\n");
}

TEST_F(ExtractTest, NamesRunPastNine) {
    std::string mailbox;
    std::vector<std::uint64_t> offsets;
    for (int i = 0; i < 12; ++i) {
        offsets.push_back(mailbox.size());
        mailbox += "From ???@??? " + std::to_string(i) + "\r\nbody\r\n";
    }
    extract(mailbox, offsets);
    EXPECT_EQ(writtenMessage(10), "From ???@??? 10\r\nbody\r\n\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "email-12.eml"));
}

TEST_F(ExtractTest, AnUncreatableFileIsToldAndTheLabelsStillShow) {
    const auto path =
        testing::writeFile(dir / "box.mbx", messageOfLength(600) + messageOfLength(20));
    MailboxFile file;
    ASSERT_TRUE(file.open(path));
    const std::vector<std::uint64_t> offsets = {0, 600};
    Recorder rec;
    auto text = readMessageText(file, offsets, 0, &rec);
    const auto result = writeMessageFile((dir / "no" / "such").string(), 0, ".eml", text);
    EXPECT_EQ(result.status, WriteResult::Status::Failed);
    EXPECT_EQ(result.error, ENOENT);
    EXPECT_EQ(rec.values, (std::vector<std::uint64_t>{250, 500}));
    EXPECT_FALSE(MailboxFile().open((dir / "missing").string()));
    EXPECT_FALSE(MailboxFile().open(dir.string()));
}

} // namespace
} // namespace mbx::convert
