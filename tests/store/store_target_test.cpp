// The .pst and .msg targets end to end through the run, read back with libpff's pffexport, and
// their failures: injected ones and a real full device.
#include "convert/conversion_run.h"
#include "convert/faults.h"
#include "convert/store_target.h"
#include "mailstore/pst/ndb/disk.h"
#include "mailstore/pst/read/store_reader.h"
#include "recording_view.h"
#include "store_support.h"
#include "tests/support/fake_desktop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#ifdef __linux__
#include <sys/mount.h>
#endif

namespace fs = std::filesystem;
using mbx::convert::ConversionRun;
using mbx::convert::Format;
using mbx::convert::MailStoreTarget;
using mbx::convert::RunOutcome;
using mbx::testing::folderCounts;
using mbx::testing::scratchDir;
using mbx::testing::slurp;
using mbx::testing::writeFile;

namespace {

std::string Message(int n) {
    return "From ???@??? Tue\r\nFrom: a@example.org\r\nSubject: s" + std::to_string(n) +
           "\r\n\r\nbody " + std::to_string(n) + "\r\n";
}
std::string Mailbox(int count) {
    std::string box;
    for (int i = 0; i < count; ++i) {
        box += Message(i);
    }
    return box;
}

struct StoreRun {
    mbx::testing::FakeDesktop desktop;
    mbx::testing::RecordingView view;
    RunOutcome outcome{};
    std::string report;

    StoreRun(Format format, const fs::path& out, const std::vector<std::string>& rows,
             mbx::convert::FaultHooks* faults = nullptr,
             const std::vector<std::string>& attachments = {}) {
        fs::create_directories(out); // a folder dialog only gives existing folders
        desktop.folderChoices.push_back(out.string());
        auto store = mbx::convert::makeStoreTarget(format);
        mbx::convert::RunOptions options;
        options.faults = faults;
        ConversionRun run(desktop, view, store.get(), options);
        outcome = run.run({rows, format, attachments});
        report = run.reportPath();
    }
};

} // namespace

TEST(StoreTarget, NeverReplacesAnExistingDataFile) {
    const fs::path dir = scratchDir("target-free");
    const std::string base = (dir / "Inbox").string();
    EXPECT_EQ(MailStoreTarget::freeDataFilePath(base), base + ".pst");
    writeFile(base + ".pst", "x");
    writeFile(base + " (2).pst", "x");
    EXPECT_EQ(MailStoreTarget::freeDataFilePath(base), base + " (3).pst");
}

TEST(StoreTarget, PstMailboxesOfOneNameAndABackslashInANameKeepEveryMessage) {
    const fs::path dir = scratchDir("target-pst");
    const auto a = (dir / "a" / "Inbox.mbox").string(), b = (dir / "b" / "Inbox.mbox").string();
    // A backslash is an ordinary character of a file name here, not a folder separator.
    const auto slash = (dir / "a\\b.mbx").string();
    writeFile(a, Mailbox(1));
    writeFile(b, Mailbox(2));
    writeFile(slash, Mailbox(3));
    StoreRun run(Format::Pst, dir / "out", {a, b, slash});
    EXPECT_EQ(run.outcome, RunOutcome::Completed);
    EXPECT_EQ(folderCounts(dir / "out" / "Inbox.pst"), "Deleted Items=0\nInbox=1\n");
    EXPECT_EQ(folderCounts(dir / "out" / "Inbox (2).pst"), "Deleted Items=0\nInbox=2\n");
    // pffexport writes the folder "a\b.mbx" as "a_b.mbx".
    EXPECT_EQ(folderCounts(dir / "out" / "a\\b.mbx.pst"), "Deleted Items=0\na_b.mbx=3\n");
    EXPECT_TRUE(run.report.empty());
}

TEST(StoreTarget, MsgTargetSavesMessageFilesAndKeepsTheRunStore) {
    const fs::path dir = scratchDir("target-msg");
    const auto a = (dir / "A.mbx").string(), empty = (dir / "Empty.mbx").string();
    writeFile(a, Mailbox(2));
    writeFile(empty, ""); // an empty mailbox still gets its folder
    // More attachments than a .msg holds: the message is written and the report says what the
    // file leaves out.
    const auto many = (dir / "Many.mbx").string();
    std::string parts = "From ???@??? Tue\r\nSubject: many\r\nMIME-Version: 1.0\r\n"
                        "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 2050; ++i) {
        parts += "--b\r\nContent-Type: text/plain; name=f" + std::to_string(i) + "\r\n\r\nx\r\n";
    }
    writeFile(many, parts + "--b--\r\n");
    StoreRun run(Format::Msg, dir / "out", {a, empty, many});
    EXPECT_EQ(run.outcome, RunOutcome::Completed);
    EXPECT_TRUE(fs::exists(dir / "out" / fs::path(many).relative_path() / "Email-0.msg"));
    EXPECT_NE(slurp(run.report).find("attachments left out (a .msg holds 2048)"), std::string::npos)
        << run.report;
    const fs::path folder = dir / "out" / fs::path(a).relative_path();
    EXPECT_TRUE(fs::exists(folder / "Email-0.msg"));
    EXPECT_TRUE(fs::exists(folder / "Email-1.msg"));
    EXPECT_FALSE(fs::exists(folder / "email-0.eml"));
    fs::path temp;
    for (const auto& e : fs::directory_iterator(dir / "out")) {
        if (e.path().extension() == ".pst") {
            temp = e.path();
        }
    }
    // Named "Temp" and the time as d.m.YY H.m.ss: no leading zeros but in the year and seconds.
    int d = 0, m = 0, y = 0, h = 0, min = 0, s = 0;
    ASSERT_EQ(
        std::sscanf(temp.filename().c_str(), "Temp%d.%d.%d %d.%d.%d.pst", &d, &m, &y, &h, &min, &s),
        6)
        << temp;
    char rebuilt[64];
    std::snprintf(rebuilt, sizeof rebuilt, "Temp%d.%d.%02d %d.%d.%02d.pst", d, m, y, h, min, s);
    EXPECT_EQ(temp.filename().string(), rebuilt);
    EXPECT_EQ(folderCounts(temp), "A.mbx=2\nDeleted Items=0\nEmpty.mbx=0\nMany.mbx=1\n");
}

// Files Eudora detached are put back from the attachments folder beside the mailbox, or from the
// one the user names; a file that is missing is written in the report, not counted as a failure.
TEST(StoreTarget, DetachedAttachmentsComeFromTheAttachmentsFolder) {
    const fs::path dir = scratchDir("target-attach");
    const auto box = (dir / "Eudora" / "Mail" / "In.mbx").string();
    writeFile(box, "From ???@??? Tue\rFrom: a@example.org\rSubject: Mac\r\rSee the files.\r"
                   "Attachment Converted: \"C:\\Eudora\\Attach\\plan.txt\"\r"
                   "Attachment Converted: \"C:\\Eudora\\Attach\\gone.pdf\"\r");
    writeFile(dir / "Eudora" / "Attach" / "plan.txt", "the plan\n");
    writeFile(dir / "Elsewhere" / "gone.pdf", "%PDF");
    {
        StoreRun run(Format::Pst, dir / "found", {box});
        EXPECT_EQ(run.outcome, RunOutcome::Completed);
        const std::string report = slurp(run.report);
        EXPECT_NE(report.find("\"gone.pdf\" not found in " + (dir / "Eudora" / "Attach").string()),
                  std::string::npos)
            << report;
        const fs::path pst = dir / "found" / "In.mbx.pst";
        ASSERT_EQ(folderCounts(pst), "Deleted Items=0\nIn.mbx=1\n");
        // pffexport numbers the attachments it writes.
        const fs::path message = fs::path(pst.string() + "-export.export") /
                                 "Top of Personal Folders" / "In.mbx" / "Message00001";
        EXPECT_EQ(slurp(message / "Attachments" / "1_plan.txt"), "the plan\n");
        EXPECT_TRUE(slurp(message / "Message.txt").starts_with("See the files.\r\n"));
    }
    {
        // A folder the user names is searched first, then still the nearest Attach folder.
        StoreRun run(Format::Pst, dir / "named", {box}, nullptr, {(dir / "Elsewhere").string()});
        EXPECT_EQ(run.outcome, RunOutcome::Completed);
        EXPECT_EQ(run.report, "") << slurp(run.report);
    }
}

namespace {
struct Faults : mbx::convert::FaultHooks {
    std::uint64_t failingImport = ~0ull;
    bool failClose = false;
    bool failAfterReadBack = false; // as a sync that fails while the file is read back
    void beforeImport(const mbx::convert::MessageJob& job) override {
        if (job.index == failingImport) {
            throw std::runtime_error("injected import failure");
        }
    }
    void beforeStoreClose(const std::string&) override {
        if (failClose) {
            throw std::runtime_error("injected close failure");
        }
    }
    void afterReadBack(const std::string&) override {
        if (failAfterReadBack) {
            throw std::runtime_error("injected sync failure");
        }
    }
};
} // namespace

TEST(StoreTarget, AFailedImportOrDataFileIsCountedToldAndLeavesNoBrokenFile) {
    const fs::path dir = scratchDir("target-faults");
    const auto a = (dir / "A.mbx").string(), b = (dir / "B.mbx").string();
    writeFile(a, Mailbox(3));
    writeFile(b, Mailbox(2));
    const auto offset1 = std::to_string(Message(0).size());
    {
        Faults faults;
        faults.failingImport = 1; // in each mailbox
        StoreRun run(Format::Pst, dir / "import", {a, b}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        ASSERT_EQ(run.desktop.boxes.size(), 1u);
        EXPECT_EQ(run.desktop.boxes[0].text,
                  "Not every message could be converted.\r\n\r\n3 of 5 messages written to "
                  "Outlook data files (.pst).\r\n2 problems are listed in the report:\r\n" +
                      run.report);
        EXPECT_EQ(run.report, (dir / "import" / "Mbxvane report.txt").string());
        EXPECT_NE(slurp(run.report)
                      .find(a + ": message 1 at byte " + offset1 + ": injected import failure"),
                  std::string::npos);
        EXPECT_EQ(folderCounts(dir / "import" / "A.mbx.pst"), "A.mbx=2\nDeleted Items=0\n");
        EXPECT_EQ(folderCounts(dir / "import" / "B.mbx.pst"), "B.mbx=1\nDeleted Items=0\n");
    }
    {
        Faults faults;
        faults.failClose = true;
        StoreRun run(Format::Pst, dir / "close", {a, b}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        ASSERT_EQ(run.desktop.boxes.size(), 1u);
        EXPECT_NE(run.desktop.boxes[0].text.find("0 of 5 messages written to Outlook data files"),
                  std::string::npos);
        EXPECT_NE(run.desktop.boxes[0].text.find("2 problems are listed"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir / "close" / "A.mbx.pst"));
        EXPECT_FALSE(fs::exists(dir / "close" / "B.mbx.pst"));
        EXPECT_NE(slurp(run.report)
                      .find("injected close failure); it has been removed with the 3 "
                            "message(s) written to it"),
                  std::string::npos);
    }
    {
        // The file read back in full, then lost: nothing it held counts as verified.
        Faults faults;
        faults.failAfterReadBack = true;
        StoreRun run(Format::Pst, dir / "sync", {a, b}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        EXPECT_FALSE(fs::exists(dir / "sync" / "A.mbx.pst"));
        const auto report = slurp(run.report);
        EXPECT_NE(report.find("injected sync failure); it has been removed with the 3 message(s)"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find(a + ": 0 of 3 written, 0 verified"), std::string::npos) << report;
    }
    {
        // One data file for the run: its loss at the end takes every mailbox's messages.
        Faults faults;
        faults.failClose = true;
        const auto pst = (dir / "tree.pst").string();
        mbx::convert::SingleFilePstTarget target(pst, "tree");
        mbx::convert::RunOptions options;
        options.faults = &faults;
        mbx::convert::ProgressObserver observer;
        mbx::convert::RunRequest request{{a, b}, Format::Pst, {}, {{{"Work"}, "A"}, {{}, "B"}}};
        const auto result =
            mbx::convert::Engine(observer, &target, options).run(request, dir.string() + "/");
        EXPECT_EQ(result.found(), 5u);
        EXPECT_EQ(result.written(), 0u);
        ASSERT_EQ(result.failures.size(), 1u);
        EXPECT_NE(result.failures[0].reason.find("injected close failure); it has been removed "
                                                 "with the 5 message(s) written to it from "
                                                 "every mailbox so far"),
                  std::string::npos)
            << result.failures[0].reason;
        EXPECT_FALSE(fs::exists(pst));
        EXPECT_FALSE(fs::exists(dir / fs::path(a).relative_path())) << "no mailbox folders";

        // Never created: each mailbox says its messages were not written.
        mbx::convert::SingleFilePstTarget missing((dir / "no" / "such" / "x.pst").string(), "x");
        const auto none = mbx::convert::Engine(observer, &missing).run(request, dir.string() + "/");
        EXPECT_EQ(none.written(), 0u);
        ASSERT_EQ(none.failures.size(), 3u);
        EXPECT_NE(none.failures[0].reason.find("could not be created"), std::string::npos);
        EXPECT_EQ(none.failures[2].mailbox, b);
        EXPECT_EQ(none.failures[2].reason, "none of its 2 message(s) was written: the run's "
                                           "Outlook data file failed before it");
    }
}

namespace {

// Breaks a data file or message file once it is complete, before it is read back.
struct BreakAfterWriting : mbx::convert::FaultHooks {
    std::string file;
    std::function<void(std::string&)> change;
    void beforeReadBack(const std::string& path) override {
        if (mbx::testing::endsInFile(path, file)) {
            std::string bytes = slurp(path);
            change(bytes);
            writeFile(path, bytes);
        }
    }
};

std::size_t findOrFail(const std::string& bytes, const std::string& what) {
    const auto at = bytes.find(what);
    if (at == std::string::npos) {
        throw std::runtime_error("not in the file: " + what);
    }
    return at;
}

std::string utf16(const std::string& ascii) {
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

// Each written file broken on purpose is found when it is read back, and reported as a failure
// naming the message and what differed; the others still count as verified.
TEST(StoreTarget, AFileBrokenAfterWritingIsAFailureNamingTheMessage) {
    using namespace mbx;
    using namespace mbx::pst;
    const fs::path dir = scratchDir("target-verify");
    const auto a = (dir / "A.mbx").string();
    const std::string zebra = "From ???@??? Tue\r\nFrom: a@example.org\r\nSubject: z\r\n\r\n" +
                              std::string("Zebra crossings are striped.\r\n");
    writeFile(a, Message(0) + zebra + Message(2));
    const auto at1 = std::to_string(Message(0).size());
    const auto pst = (dir / "flip" / "A.mbx.pst").string();
    {
        // A flipped byte in message 1's body.
        BreakAfterWriting faults;
        faults.file = "A.mbx.pst";
        faults.change = [](std::string& bytes) { bytes[findOrFail(bytes, utf16("Zebra"))] ^= 1; };
        StoreRun run(Format::Pst, dir / "flip", {a}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        ASSERT_EQ(run.desktop.boxes.size(), 1u);
        EXPECT_NE(run.desktop.boxes[0].text.find("3 of 3 messages written"), std::string::npos);
        const auto report = slurp(run.report);
        EXPECT_NE(report.find(a + ": message 1 at byte " + at1 +
                              ": read back from the folder "
                              "\"A.mbx\" of " +
                              pst + ": plain-text body differs"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find(a + ": the data file " + pst +
                              " read back fails its structure check: block "),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find(a + ": 3 of 3 written, 2 verified"), std::string::npos) << report;
    }
    {
        // A flipped byte in a value the read-back does not compare, in a block it does not read
        // (the transport headers, too long for the message's heap): the block's CRC tells.
        const auto quiet = (dir / "Q.mbx").string();
        writeFile(quiet, "From ???@??? Tue\r\nFrom: a@example.org\r\nX-Note: " +
                             std::string(3000, 'q') + " quiet\r\nSubject: q\r\n\r\nHush.\r\n");
        BreakAfterWriting faults;
        faults.file = "Q.mbx.pst";
        faults.change = [](std::string& bytes) { bytes[findOrFail(bytes, utf16(" quiet"))] ^= 1; };
        StoreRun run(Format::Pst, dir / "quiet", {quiet}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        const auto report = slurp(run.report);
        EXPECT_NE(report.find(quiet + ": the data file " + (dir / "quiet" / "Q.mbx.pst").string() +
                              " read back fails its structure check: block "),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("block CRC mismatch"), std::string::npos) << report;
    }
    {
        // Message 1's node gone from the node index: the folder lists a message the file lacks.
        // (Its node is found in a clean conversion, which gives the same nodes: the file being
        // read back has no header yet.)
        const auto missing = (dir / "missing" / "A.mbx.pst").string();
        StoreRun clean(Format::Pst, dir / "clean", {a});
        const auto folders = StoreReader(dir / "clean" / "A.mbx.pst").folders();
        const auto folder = std::find_if(folders.begin(), folders.end(),
                                         [](const auto& f) { return f.path == "A.mbx"; });
        ASSERT_NE(folder, folders.end());
        ASSERT_EQ(folder->messages.size(), 3u);
        BreakAfterWriting faults;
        faults.file = "A.mbx.pst";
        faults.change = [&](std::string& bytes) {
            for (std::size_t page = 0; page + kPageSize <= bytes.size(); page += kPageSize) {
                auto* p = reinterpret_cast<std::uint8_t*>(bytes.data() + page);
                const PageTrailer trailer = PageTrailer::decode(p + kPageDataSize);
                for (std::size_t e = 0; e + NbtEntry::kSize <= BTPage::kEntriesSize &&
                                        trailer.ptype == static_cast<std::uint8_t>(PageType::Nbt);
                     e += NbtEntry::kSize) {
                    if (NbtEntry::decode(p + e).nid == folder->messages[1] &&
                        readLe32(p + e + 24) == folder->nid) {
                        writeLe64(p + e, folder->messages[1] + (1000 << 5)); // another node
                        PageTrailer::seal(p, PageType::Nbt, trailer.bid, page);
                        return;
                    }
                }
            }
            FAIL() << "the message's node index entry was not found";
        };
        StoreRun run(Format::Pst, dir / "missing", {a}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        const auto report = slurp(run.report);
        EXPECT_NE(report.find(a + ": message 1 at byte " + at1 +
                              ": missing from the folder \"A.mbx\" of the data file " + missing),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find(a + ": 3 of 3 written, 2 verified"), std::string::npos) << report;
    }
    // A message with one attachment of 10000 bytes, `first` then the letters after it.
    const auto withData = [](const std::string& name, char first) {
        std::string data(10000, '\0');
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<char>(first + i % 26);
        }
        return "From ???@??? Tue\r\nSubject: with data\r\nMIME-Version: 1.0\r\n"
               "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
               "Content-Type: text/plain\r\n\r\nsee\r\n--b\r\n"
               "Content-Type: application/octet-stream; name=" +
               name + "\r\n\r\n" + data + "\r\n--b--\r\n";
    };
    {
        // The second of two messages with attachments, its attachment's bytes changed: it is
        // compared with its own attachment, not the first message's.
        const auto c = (dir / "C.mbx").string();
        const auto first = withData("first.bin", 'a');
        writeFile(c, first + withData("second.bin", 'A'));
        BreakAfterWriting faults;
        faults.file = "C.mbx.pst";
        faults.change = [](std::string& bytes) { bytes[findOrFail(bytes, "ABCDEFGHIJ")] ^= 1; };
        StoreRun run(Format::Pst, dir / "attached", {c}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        const auto report = slurp(run.report);
        EXPECT_NE(report.find(c + ": message 1 at byte " + std::to_string(first.size()) +
                              ": read back from the folder \"C.mbx\" of " +
                              (dir / "attached" / "C.mbx.pst").string() +
                              ": attachment 1 \"second.bin\": bytes differ"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find(c + ": 2 of 2 written, 1 verified"), std::string::npos) << report;
    }
    {
        // A .msg whose attachment stream is cut short.
        const auto b = (dir / "B.mbx").string();
        writeFile(b, withData("data.bin", 'a'));
        BreakAfterWriting faults;
        faults.file = "Email-0.msg";
        faults.change = [](std::string& bytes) {
            // The size of the directory entry named after the attachment's data.
            auto* size = reinterpret_cast<std::uint8_t*>(
                bytes.data() + findOrFail(bytes, utf16("__substg1.0_37010102")) + 0x78);
            writeLe32(size, readLe32(size) - 100);
        };
        StoreRun run(Format::Msg, dir / "msg", {b}, &faults);
        EXPECT_EQ(run.outcome, RunOutcome::Failed);
        const auto report = slurp(run.report);
        const auto file = dir / "msg" / fs::path(b).relative_path() / "Email-0.msg";
        EXPECT_NE(report.find(b + ": message 0 at byte 0: the message file " + file.string() +
                              " read back: attachment 1 \"data.bin\": 10000 bytes written, "
                              "9900 found"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find(b + ": 1 of 1 written, 0 verified"), std::string::npos) << report;
    }
}

// The messages of a data file are read back on two threads; what they find is told in the
// order of the messages all the same.
TEST(StoreTarget, MessagesReadBackOnTwoThreadsAreToldInMessageOrder) {
    const fs::path dir = scratchDir("target-verify-order");
    const auto a = (dir / "A.mbx").string();
    writeFile(a, Mailbox(300));
    const std::vector<int> broken = {250, 7, 130};
    BreakAfterWriting faults;
    faults.file = "A.mbx.pst";
    faults.change = [&broken](std::string& bytes) {
        for (const int n : broken) {
            bytes[findOrFail(bytes, utf16("body " + std::to_string(n) + "\r"))] ^= 1;
        }
    };
    StoreRun run(Format::Pst, dir / "out", {a}, &faults);
    EXPECT_EQ(run.outcome, RunOutcome::Failed);
    const auto report = slurp(run.report);
    std::size_t last = 0;
    for (const int n : {7, 130, 250}) {
        const auto at =
            report.find(a + ": message " + std::to_string(n) + " at byte " +
                        std::to_string(Mailbox(n).size()) + ": read back from the folder");
        ASSERT_NE(at, std::string::npos) << n << "\n" << report;
        EXPECT_GT(at, last) << n << "\n" << report;
        last = at;
    }
    EXPECT_NE(report.find(a + ": 300 of 300 written, 297 verified"), std::string::npos) << report;
}

// A real full device: a 64 KiB tmpfs as the output folder, converted by mbxvane-bench (the
// command line's conversion).
TEST(StoreTarget, AFullDeviceEndsTheRunWithNoTruncatedFileAndAFailureExit) {
    const fs::path dir = scratchDir("target-full");
    const fs::path mount = dir / "small";
    fs::create_directories(mount);
#ifndef __linux__
    GTEST_SKIP() << "a small tmpfs can only be mounted on Linux";
#else
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "mounting a 64 KiB tmpfs is not permitted here (needs root): "
                     << std::strerror(errno);
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mount};
    std::string box;
    std::vector<std::string> messages;
    for (int i = 0; i < 50; ++i) {
        messages.push_back(Message(i) + std::string(3000, 'x') + "\r\n");
        box += messages.back();
    }
    const auto mailbox = (dir / "In.mbx").string();
    writeFile(mailbox, box);
    // The .msg run also has its Temp data file in the output folder; a full device is known by
    // the writers' error codes, not by their texts.
    for (const std::string format : {"eml", "pst", "msg"}) {
        SCOPED_TRACE(format);
        for (const auto& e : fs::directory_iterator(mount)) {
            fs::remove_all(e.path());
        }
        // The output folder cannot take the report either: it goes where --report says.
        const auto report = dir / ("report-" + format + ".txt");
        const auto [status, output] = mbx::testing::runCommand(
            std::string(MBXVANE_BENCH) + " convert --workers 2 --format " + format + " --out " +
            mbx::testing::quoted(mount) + " --report " + mbx::testing::quoted(report) + " " +
            mbx::testing::quoted(mailbox));
        EXPECT_EQ(status, 1) << output;
        EXPECT_NE(output.find("the output device is full; the run stopped there"),
                  std::string::npos)
            << output;
        // Nothing is tried after the full device: at most one message per worker fails on it,
        // and the data file.
        const auto text = slurp(report);
        std::size_t full = 0;
        for (auto at = text.find("No space left on device"); at != std::string::npos;
             at = text.find("No space left on device", at + 1)) {
            ++full;
        }
        EXPECT_GE(full, 1u) << text;
        EXPECT_LE(full, 3u) << text;
        fs::remove(report);
        // Every message file left is complete; no data file is left that readers refuse.
        const fs::path folder = mount / fs::path(mailbox).relative_path();
        int files = 0;
        if (fs::exists(folder)) {
            for (const auto& e : fs::directory_iterator(folder)) {
                const auto name = e.path().filename().string();
                const auto k = std::stoul(name.substr(6, name.size() - 10));
                if (format == "eml") {
                    EXPECT_EQ(slurp(e.path()), messages.at(k) + "\r\n") << name;
                }
                ++files;
            }
        }
        EXPECT_LT(files, 50);
        EXPECT_FALSE(fs::exists(mount / "In.mbx.pst"));
    }
#endif
}
