// The .pst and .msg steps of the run, driven the way the run drives them.
#include "convert/store_steps.h"
#include "session_support.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using mbx::convert::Format;
using mbx::convert::MailStoreSteps;
using mbx::testing::folderCounts;
using mbx::testing::scratch;
using mbx::testing::writeFile;

namespace {
const char* kMessage = "From ???@??? Tue\r\nFrom: a@example.org\r\nSubject: s\r\n\r\nbody\r\n";
}

TEST(MailStoreSteps, TimeStampIsDayMonthYearHourMinuteSeconds) {
    // d.m.YY H.m.ss: no leading zeros but in the year and the seconds.
    const std::string stamp = MailStoreSteps::TimeStamp();
    int d = 0, m = 0, y = 0, h = 0, min = 0, s = 0;
    ASSERT_EQ(std::sscanf(stamp.c_str(), "%d.%d.%d %d.%d.%d", &d, &m, &y, &h, &min, &s), 6)
        << stamp;
    char rebuilt[40];
    std::snprintf(rebuilt, sizeof rebuilt, "%d.%d.%02d %d.%d.%02d", d, m, y, h, min, s);
    EXPECT_EQ(stamp, rebuilt);
    EXPECT_TRUE(d >= 1 && d <= 31 && m >= 1 && m <= 12 && y < 100 && h < 24 && min < 60 && s < 61);
}

TEST(MailStoreSteps, NeverReplacesAnExistingDataFile) {
    const fs::path dir = scratch("steps-free");
    const std::string base = (dir / "Inbox").string();
    EXPECT_EQ(MailStoreSteps::FreeDataFilePath(base), base + ".pst");
    writeFile(base + ".pst", "x");
    writeFile(base + " (2).pst", "x");
    EXPECT_EQ(MailStoreSteps::FreeDataFilePath(base), base + " (3).pst");
}

TEST(MailStoreSteps, PstTargetTwoMailboxesOfOneNameKeepEveryMessage) {
    const fs::path dir = scratch("steps-pst");
    const std::string root = dir.string() + "/";
    MailStoreSteps steps(Format::Pst);
    for (int mailbox = 0; mailbox < 2; ++mailbox) {
        ASSERT_TRUE(steps.OpenMailboxStore(root, "Inbox"));
        steps.AddMailboxFolder("Inbox");
        const fs::path folder = dir / ("box" + std::to_string(mailbox));
        for (int k = 0; k <= mailbox; ++k) {
            const fs::path eml = folder / ("email-" + std::to_string(k) + ".eml");
            writeFile(eml, kMessage);
            steps.ImportMessage(eml.string(), folder.string(), static_cast<std::uint64_t>(k));
            EXPECT_FALSE(fs::exists(eml)); // the stepping stone is gone
        }
        steps.CloseStore();
    }
    EXPECT_EQ(folderCounts(dir / "Inbox.pst"), "Deleted Items=0\nInbox=1\n");
    EXPECT_EQ(folderCounts(dir / "Inbox (2).pst"), "Deleted Items=0\nInbox=2\n");
}

TEST(MailStoreSteps, MsgTargetSavesMessageFilesAndKeepsTheRunStore) {
    const fs::path dir = scratch("steps-msg");
    MailStoreSteps steps(Format::Msg);
    ASSERT_TRUE(steps.OpenRunStore(dir.string() + "/"));
    steps.AddMailboxFolder("A");
    const fs::path folder = dir / "A.mbx";
    writeFile(folder / "email-0.eml", kMessage);
    steps.ImportMessage((folder / "email-0.eml").string(), folder.string(), 0);
    steps.AddMailboxFolder("Empty");
    steps.CloseStore();
    EXPECT_TRUE(fs::exists(folder / "Email-0.msg"));
    EXPECT_FALSE(fs::exists(folder / "email-0.eml"));
    fs::path temp;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".pst") {
            temp = e.path();
        }
    }
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.filename().string().substr(0, 4), "Temp");
    EXPECT_EQ(folderCounts(temp), "A=1\nDeleted Items=0\nEmpty=0\n");
}

TEST(MailStoreSteps, SessionFailuresAreReportedAsFalse) {
    const fs::path dir = scratch("steps-fail");
    writeFile(dir / "file", "x");
    MailStoreSteps pst(Format::Pst);
    EXPECT_FALSE(pst.OpenMailboxStore((dir / "file").string() + "/", "Inbox"));
    MailStoreSteps msg(Format::Msg);
    EXPECT_FALSE(msg.OpenRunStore((dir / "file").string() + "/"));
}
