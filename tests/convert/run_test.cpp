#include "convert/conversion_run.h"
#include "convert/faults.h"
#include "recording_view.h"
#include "support/fake_desktop.h"
#include "tests/support/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mbx::convert {
namespace {

using desktop::Icon;
using testing::FakeDesktop;
using testing::FakeStore;
using testing::RecordingView;

const std::string kDone = "Your messages from Eudora Mailboxes has been successfully exported.\r\n"
                          "***************************************************************"
                          "************\r\n";

std::string mailboxMessage(const std::string& tag, std::size_t length = 0) {
    std::string m = "From ???@??? " + tag + "\r\nSubject: " + tag + "\r\n\r\nbody\r\n";
    if (length > m.size()) {
        m.insert(m.size() - 2, std::string(length - m.size(), 'x'));
    }
    return m;
}

class RunTest : public ::testing::Test {
protected:
    std::filesystem::path dir =
        testing::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    FakeDesktop desk;
    RecordingView view;
    RunOptions options{std::chrono::milliseconds(0)};

    std::string writeMailbox(const std::string& rel, const std::string& bytes) {
        return testing::writeFile(dir / "in" / std::filesystem::path(rel).make_preferred(), bytes);
    }
    // Where the run puts a mailbox's files: the output root + the path without its leading "/".
    std::filesystem::path outFolder(const std::string& mailbox) const {
        // The mailbox's path without its root ("/", or "C:\" on Windows).
        return dir / "out" / std::filesystem::path(mailbox).relative_path();
    }
    std::string outRoot() const { return (dir / "out").string(); }
};

TEST_F(RunTest, ThreeMailboxesEndToEnd) {
    const auto a0 = mailboxMessage("a0"), a1 = mailboxMessage("a1", 600);
    const auto b0 = mailboxMessage("b0");
    const auto c0 = mailboxMessage("c0"), c1 = mailboxMessage("c1"), c2 = mailboxMessage("c2");
    const auto a = writeMailbox("A.mbx", a0 + a1);
    const auto b = writeMailbox("sub/B.mbox", "preamble\r\n" + b0);
    const auto c = writeMailbox("C.MBOX", c0 + c1 + c2);
    desk.folderChoices.push_back(outRoot());

    ConversionRun run(desk, view, nullptr, options);
    EXPECT_EQ(run.run({{a, "  " + b + " ", c}, Format::Eml, {}}), RunOutcome::Completed);

    EXPECT_EQ(testing::slurp(outFolder(a) / "email-0.eml"), a0 + "\r\n");
    EXPECT_EQ(testing::slurp(outFolder(a) / "email-1.eml"), a1 + "\r\n");
    EXPECT_EQ(testing::slurp(outFolder(b) / "email-0.eml"), b0 + "\r\n");
    EXPECT_EQ(testing::slurp(outFolder(c) / "email-2.eml"), c2 + "\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outFolder(c)),
                            std::filesystem::directory_iterator()),
              3);

    EXPECT_EQ(desk.folderTitles, std::vector<std::string>{"Choose Folder to Save..."});
    ASSERT_EQ(desk.boxes.size(), 1u);
    EXPECT_EQ(desk.boxes[0].caption, "Mbxvane");
    EXPECT_EQ(desk.boxes[0].text, kDone);
    EXPECT_EQ(desk.boxes[0].icon, Icon::Information);
    EXPECT_EQ(desk.beeps, 0);
    // Every file read back: the window's texts are the same as ever.
    EXPECT_TRUE(run.result().verification);
    EXPECT_EQ(run.result().verified(), 6u);

    const auto total = std::to_string(a0.size() + a1.size());
    auto mailbox = [](int row, const std::string& file, const std::string& count) {
        return std::vector<std::string>{"row " + std::to_string(row),
                                        "LblProgessCurrent=Mailbox " + std::to_string(row + 1) +
                                            " (of 3) ",
                                        "LblIMMFile=" + file,
                                        "LblHappening=Setting Mail Search Filter...",
                                        "LblEmlsFound=",
                                        "LblProgress=",
                                        "ProgressBar2 range 0..100",
                                        "LblEmlsFound=" + count + " Messages",
                                        "LblHappening=Saving email messages..."};
    };
    std::vector<std::string> expected = {"Convert off", "ProgressBar1 range 0..100"};
    for (const auto& part :
         {mailbox(0, "A.mbx", "2"),
          std::vector<std::string>{"LblProgress=Saved 1 Message(s)",
                                   "Saving: 250 Bytes out of " + total + " Total Bytes.",
                                   "Saving: 500 Bytes out of " + total + " Total Bytes.",
                                   "LblProgress=Saved 2 Message(s)", "ProgressBar1"},
          mailbox(1, "B.mbox", "1"),
          std::vector<std::string>{"LblProgress=Saved 1 Message(s)", "ProgressBar1"},
          mailbox(2, "C.MBOX", "3"),
          std::vector<std::string>{
              "LblProgress=Saved 1 Message(s)", "LblProgress=Saved 2 Message(s)",
              "LblProgress=Saved 3 Message(s)", "ProgressBar1", "Convert on", "formats cleared"}}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(view.steps(), expected);
    ASSERT_EQ(view.bar1.size(), 3u);
    EXPECT_FLOAT_EQ(view.bar1[0], 33.33333f);
    EXPECT_FLOAT_EQ(view.bar1[1], 66.66666f);
    EXPECT_EQ(view.bar1[2], 100.0f);

    // The first mailbox's second separator: byte 38 of 638.
    const auto second = std::find(view.events.begin(), view.events.end(),
                                  "LblHappening=Searching for messages... Messages Found : 2");
    ASSERT_NE(second, view.events.end());
    EXPECT_EQ(*(second - 1), "ProgressBar2=6");
    EXPECT_GT(view.yields, 10);
}

TEST_F(RunTest, UnusableRowsWarnAndTheRunGoesOn) {
    std::filesystem::create_directories(dir / "in" / "folder.mbx");
    const auto tiny = writeMailbox("tiny.mbx", "F");
    const auto good = writeMailbox("good.mbx", mailboxMessage("g"));
    const auto missing = (dir / "in" / "missing.mbx").string();
    const auto folder = (dir / "in" / "folder.mbx").string();
    desk.folderChoices.push_back(outRoot());
    ConversionRun run(desk, view, nullptr, options);
    // A 1-byte file holds no separator: no Eudora mailbox, and a failure.
    EXPECT_EQ(run.run({{"", missing, folder, tiny, good}, Format::Eml, {}}), RunOutcome::Failed);
    ASSERT_EQ(run.result().failures.size(), 1u);
    EXPECT_EQ(run.result().failures[0].mailbox, tiny);
    EXPECT_EQ(run.result().failures[0].reason,
              "no Eudora message separator found; is this a Eudora mailbox?");

    std::vector<std::string> texts;
    for (const auto& box : desk.boxes) {
        texts.push_back(box.caption + ": " + box.text);
    }
    const std::string size = "File Reader: File size is 1 byte !\r\rFile can not open for string "
                             "searching !";
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "File Reader: Enter name of the file to be searched...",
                         "File Reader: File not found !", "File Reader: File not found !", size,
                         size, "File Reader: File could not open !",
                         "Mbxvane: Not every message could be converted.\r\n\r\n1 of 1 message "
                         "written as .eml files.\r\n1 problem is listed in the report:\r\n" +
                             run.reportPath()}));
    EXPECT_EQ(desk.boxes[0].icon, Icon::None);
    EXPECT_EQ(desk.boxes[1].icon, Icon::Exclamation);
    EXPECT_EQ(desk.beeps, 6);
    EXPECT_EQ(std::count(view.events.begin(), view.events.end(), "LblEmlsFound=0 Messages"), 4);
    EXPECT_EQ(testing::slurp(outFolder(good) / "email-0.eml"), mailboxMessage("g") + "\r\n");
    for (const auto& bad : {missing, folder, tiny}) {
        EXPECT_FALSE(std::filesystem::exists(outFolder(bad) / "email-0.eml")) << bad;
    }
    ASSERT_EQ(view.bar1.size(), 5u);
    EXPECT_EQ(view.bar1.back(), 100.0f);
    EXPECT_EQ(view.events.back(), "formats cleared");
}

TEST_F(RunTest, ARunWorksOnASnapshotOfTheList) {
    const auto one = writeMailbox("1.mbx", mailboxMessage("one"));
    const auto two = writeMailbox("2.mbx", mailboxMessage("two"));
    RunRequest request{{one, two}, Format::Eml, {}};
    view.onFirstLabel = [&request] {
        request.rows.clear();
        request.format = Format::None;
    };
    desk.folderChoices.push_back(outRoot());
    ConversionRun run(desk, view, nullptr, options);
    EXPECT_EQ(run.run(request), RunOutcome::Completed);
    EXPECT_TRUE(std::filesystem::exists(outFolder(two) / "email-0.eml"));
}

// The window's .pst and .msg tests check the files with outside readers; here, what reaches the
// store on the inline path (0 workers) and on worker threads, including an empty row.
TEST_F(RunTest, StoreTargetsGetEveryMessageInOrderWithTheirDataFiles) {
    const auto a =
        writeMailbox("Inbox.mbox", mailboxMessage("a0") + "  " + mailboxMessage("a1") + "  ");
    const auto b = writeMailbox("Out.mbx", mailboxMessage("b0"));
    const auto fa = outFolder(a).string(), fb = outFolder(b).string();
    // Each message as its file would hold it: blanks trimmed, CR LF added.
    const auto size = [](const std::string& tag) {
        return std::to_string(mailboxMessage(tag).size() + 2);
    };
    for (const int workers : {0, 2}) {
        options.workers = workers;
        FakeDesktop d;
        d.folderChoices.push_back(outRoot());
        FakeStore store;
        RecordingView v;
        ConversionRun run(d, v, &store, options);
        EXPECT_EQ(run.run({{a, "", b}, Format::Msg, {}}), RunOutcome::Completed);
        const auto root = outRoot() + static_cast<char>(std::filesystem::path::preferred_separator);
        EXPECT_EQ(store.calls,
                  (std::vector<std::string>{
                      "beginRun " + root, "beginMailbox " + root + " Inbox",
                      "commit " + fa + " 0 " + size("a0"), "commit " + fa + " 1 " + size("a1"),
                      "endMailbox", "beginMailbox " + root + " Out.mbx",
                      "commit " + fb + " 0 " + size("b0"), "endMailbox", "endRun"}));
        ASSERT_EQ(d.boxes.size(), 2u);
        EXPECT_EQ(d.boxes[0].text, "Enter name of the file to be searched...");
        EXPECT_EQ(d.boxes[1].text, kDone);
        // No .eml detour: the mailbox folders stay empty.
        EXPECT_TRUE(std::filesystem::is_empty(outFolder(a)));
    }
}

// A data file that cannot be created is one failure among others: the run goes on with the
// next mailbox and ends in the warning box, never in a box about Outlook.
TEST_F(RunTest, ADataFileThatCannotBeCreatedIsRecordedAndTheRunGoesOn) {
    const auto a = writeMailbox("A.mbx", mailboxMessage("a0") + mailboxMessage("a1"));
    const auto b = writeMailbox("B.mbx", mailboxMessage("b0"));
    FakeDesktop d;
    RecordingView v;
    FakeStore store;
    store.openFailsAt = 0;
    d.folderChoices.push_back(outRoot());
    ConversionRun run(d, v, &store, options);
    EXPECT_EQ(run.run({{a, b}, Format::Pst, {}}), RunOutcome::Failed);
    // A's messages are not even parsed; B's are stored.
    const auto bCommit =
        "commit " + outFolder(b).string() + " 0 " + std::to_string(mailboxMessage("b0").size() + 2);
    EXPECT_EQ(store.calls.back(), "endRun");
    EXPECT_EQ(std::count(store.calls.begin(), store.calls.end(), bCommit), 1);
    EXPECT_EQ(std::count_if(store.calls.begin(), store.calls.end(),
                            [](const std::string& c) { return c.starts_with("commit"); }),
              1);
    ASSERT_EQ(run.result().failures.size(), 1u);
    EXPECT_EQ(run.result().failures[0].mailbox, a);
    EXPECT_EQ(run.result().failures[0].reason,
              "the Outlook data file could not be created: refused; none of its 2 message(s) "
              "was written");
    EXPECT_EQ(run.result().written(), 1u);
    EXPECT_EQ(run.result().found(), 3u);
    ASSERT_EQ(d.boxes.size(), 1u);
    EXPECT_EQ(d.boxes[0].icon, Icon::Exclamation);
    EXPECT_NE(d.boxes[0].text.find("1 of 3 messages written to Outlook data files"),
              std::string::npos)
        << d.boxes[0].text;
}

// A data file that is lost and cannot be removed either must not be reported as removed.
TEST_F(RunTest, ALostDataFileThatCannotBeRemovedIsReportedAsLeftBehind) {
    const auto a = writeMailbox("A.mbx", mailboxMessage("a0") + mailboxMessage("a1"));
    for (const bool removable : {true, false}) {
        FakeDesktop d;
        RecordingView v;
        FakeStore store;
        store.commitFailsAt = 1;
        if (!removable) {
            store.discardError = std::make_error_code(std::errc::permission_denied);
        }
        d.folderChoices.push_back(outRoot());
        ConversionRun run(d, v, &store, options);
        EXPECT_EQ(run.run({{a}, Format::Pst, {}}), RunOutcome::Failed);
        ASSERT_EQ(run.result().failures.size(), 1u);
        const auto& reason = run.result().failures[0].reason;
        EXPECT_EQ(reason.find("it has been removed") != std::string::npos, removable) << reason;
        EXPECT_EQ(reason.find("could not be removed either (" +
                              std::make_error_code(std::errc::permission_denied).message() +
                              "): the file left there is incomplete") != std::string::npos,
                  !removable)
            << reason;
        EXPECT_EQ(run.result().written(), 0u);
    }
}

// Changes a message file after it is written, before it is read back.
struct ChangedAfterWriting : FaultHooks {
    std::string file;
    bool shorten = false;
    void beforeReadBack(const std::string& path) override {
        if (!mbx::testing::endsInFile(path, file)) {
            return;
        }
        auto bytes = testing::slurp(path);
        if (shorten) {
            bytes.pop_back();
        } else {
            bytes[bytes.size() / 2] ^= 0x20;
        }
        testing::writeFile(path, bytes);
    }
};

TEST_F(RunTest, AMessageFileChangedAfterWritingIsAFailureNamingTheMessage) {
    const std::vector<std::string> messages = {mailboxMessage("m0"), mailboxMessage("m1", 300),
                                               mailboxMessage("m2")};
    const auto a = writeMailbox("A.mbx", messages[0] + messages[1] + messages[2]);
    const auto b = writeMailbox("B.mbx", mailboxMessage("b0"));
    for (const bool shorten : {false, true}) {
        for (const bool verify : {true, false}) {
            SCOPED_TRACE(std::to_string(shorten) + std::to_string(verify));
            std::filesystem::remove_all(dir / "out");
            std::filesystem::create_directories(dir / "out");
            FakeDesktop d;
            RecordingView v;
            d.folderChoices.push_back(outRoot());
            ChangedAfterWriting faults;
            faults.file = "email-1.eml";
            faults.shorten = shorten;
            options.faults = &faults;
            options.verify = verify;
            ConversionRun run(d, v, nullptr, options);
            const auto outcome = run.run({{a, b}, Format::Eml, {}});
            const auto& result = run.result();
            EXPECT_EQ(result.written(), 4u);
            ASSERT_EQ(d.boxes.size(), 1u);
            if (!verify) {
                // Nothing is read back: the changed file passes unseen.
                EXPECT_EQ(outcome, RunOutcome::Completed);
                EXPECT_FALSE(result.verification);
                EXPECT_EQ(d.boxes[0].text, kDone);
                continue;
            }
            EXPECT_EQ(outcome, RunOutcome::Failed);
            EXPECT_EQ(result.mailboxes[0].verified, 2u);
            EXPECT_EQ(result.mailboxes[1].verified, 1u);
            const auto report = (dir / "out" / "Mbxvane report.txt").string();
            EXPECT_EQ(d.boxes[0].icon, Icon::Exclamation);
            EXPECT_EQ(d.boxes[0].text, "Not every message could be converted.\r\n\r\n4 of 4 "
                                       "messages written as .eml files.\r\n1 problem is listed "
                                       "in the report:\r\n" +
                                           report);
            const auto text = testing::slurp(report);
            const auto size = std::to_string(messages[1].size() + 2);
            const auto line =
                a + ": message 1 at byte " + std::to_string(messages[0].size()) +
                ": the message file " + (outFolder(a) / "email-1.eml").string() + " read back: " +
                (shorten
                     ? size + " bytes written, " + std::to_string(messages[1].size() + 1) + " found"
                     : std::string("its bytes differ from the mailbox's"));
            EXPECT_NE(text.find(line), std::string::npos) << text;
            EXPECT_NE(text.find(a + ": 3 of 3 written, 2 verified"), std::string::npos) << text;
        }
    }
}

// Fails writes to one message file once it holds `limit` bytes.
struct FailingWrites : FaultHooks {
    std::string file;
    std::uint64_t limit = 0;
    int error = EIO;
    int beforeWrite(const std::string& path, std::uint64_t offset, std::size_t count) override {
        const bool hit = mbx::testing::endsInFile(path, file) && offset + count > limit;
        return hit ? error : 0;
    }
};

TEST_F(RunTest, WriteFailuresAreCountedToldAndLeaveNoPartFile) {
    // Message 1 is larger than the output buffer, so part of it is on disk when the write fails.
    const std::vector<std::string> messages = {mailboxMessage("m0"), mailboxMessage("m1", 200000),
                                               mailboxMessage("m2"), mailboxMessage("m3")};
    std::string all;
    for (const auto& m : messages) {
        all += m;
    }
    const auto a = writeMailbox("A.mbx", all);
    const auto b = writeMailbox("B.mbx", mailboxMessage("b0"));
    for (const int error : {EIO, ENOSPC}) {
        SCOPED_TRACE(error);
        std::filesystem::remove_all(dir / "out");
        std::filesystem::create_directories(dir / "out");
        FakeDesktop d;
        RecordingView v;
        d.folderChoices.push_back(outRoot());
        FailingWrites faults;
        faults.file = "email-1.eml";
        faults.limit = 70000;
        faults.error = error;
        options.faults = &faults;
        ConversionRun run(d, v, nullptr, options);
        EXPECT_EQ(run.run({{a, b}, Format::Eml, {}}), RunOutcome::Failed);

        EXPECT_FALSE(std::filesystem::exists(outFolder(a) / "email-1.eml"));
        EXPECT_EQ(testing::slurp(outFolder(a) / "email-0.eml"), messages[0] + "\r\n");
        const bool full = error == ENOSPC;
        // A full device ends the run: nothing more is tried.
        EXPECT_EQ(std::filesystem::exists(outFolder(a) / "email-3.eml"), !full);
        EXPECT_EQ(std::filesystem::exists(outFolder(b) / "email-0.eml"), !full);

        const auto report = (dir / "out" / "Mbxvane report.txt").string();
        ASSERT_EQ(d.boxes.size(), 1u);
        EXPECT_EQ(d.boxes[0].icon, Icon::Exclamation);
        EXPECT_EQ(d.boxes[0].text,
                  "Not every message could be converted.\r\n\r\n" +
                      std::string(full ? "1 of 4 messages" : "4 of 5 messages") +
                      " written as .eml files.\r\n" +
                      (full ? "The output device is full: the run stopped there.\r\n" : "") +
                      "1 problem is listed in the report:\r\n" + report);
        const auto text = testing::slurp(report);
        const auto line = a + ": message 1 at byte " + std::to_string(messages[0].size()) +
                          ": cannot write the file " + (outFolder(a) / "email-1.eml").string() +
                          ": " + std::strerror(error);
        EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_EQ(v.events.back(), "formats cleared");
    }
}

// The files are on the disk before the run says so, and a flush that fails is no success.
TEST_F(RunTest, TheWrittenFilesAreFlushedBeforeTheRunEnds) {
    const auto a = writeMailbox("A.mbx", mailboxMessage("m0") + mailboxMessage("m1"));
    struct Flush : FaultHooks {
        std::vector<std::string> roots;
        int error = 0;
        int beforeFlush(const std::string& root) override {
            roots.push_back(root);
            return error;
        }
    };
    for (const int error : {0, EIO}) {
        FakeDesktop d;
        RecordingView v;
        d.folderChoices.push_back(outRoot());
        Flush flush;
        flush.error = error;
        options.faults = &flush;
        ConversionRun run(d, v, nullptr, options);
        EXPECT_EQ(run.run({{a}, Format::Eml, {}}),
                  error ? RunOutcome::Failed : RunOutcome::Completed);
        ASSERT_EQ(flush.roots.size(), 1u);
        EXPECT_EQ(std::filesystem::path(flush.roots[0]), dir / "out" / "");
        EXPECT_EQ(run.result().written(), 2u);
        ASSERT_EQ(d.boxes.size(), 1u);
        if (error == 0) {
            EXPECT_EQ(d.boxes[0].text, kDone);
            continue;
        }
        const auto text = testing::slurp(dir / "out" / "Mbxvane report.txt");
        EXPECT_NE(text.find("(run): the system could not confirm that the files written under " +
                            flush.roots[0] + " are on the disk (" + std::strerror(EIO) +
                            "); some of them may be incomplete"),
                  std::string::npos)
            << text;
    }
}

TEST_F(RunTest, StoppingInsideAMessageLeavesNoPartFile) {
    const auto small = mailboxMessage("small"), big = mailboxMessage("big", 100000);
    const auto a = writeMailbox("A.mbx", small + big + mailboxMessage("after"));
    struct StopInside : RecordingView {
        bool stop = false;
        void bytesRead(const BytesRead& e) override {
            stop = stop || e.soFar >= 20000;
            RecordingView::bytesRead(e);
        }
        bool yield() override { return !stop && RecordingView::yield(); }
    } stopping;
    options.copyBlockSize = 4096;
    desk.folderChoices.push_back(outRoot());
    ConversionRun run(desk, stopping, nullptr, options);
    EXPECT_EQ(run.run({{a}, Format::Eml, {}}), RunOutcome::Ending);
    EXPECT_EQ(testing::slurp(outFolder(a) / "email-0.eml"), small + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(outFolder(a) / "email-1.eml"));
    EXPECT_TRUE(desk.boxes.empty());
}

TEST_F(RunTest, AMailboxThatShrinksWhileReadLosesNothingInSilence) {
    // As when a disk fails or another program rewrites the mailbox: during the search, or
    // between the search and the copy. The part never read must not pass for converted.
    const auto m0 = mailboxMessage("m0"), m1 = mailboxMessage("m1"),
               big = mailboxMessage("big", 300000);
    struct Shrinking : RecordingView {
        std::string path;
        bool duringSearch = true;
        bool searching = false;
        int calls = 0;
        void searchStarted() override {
            searching = true;
            RecordingView::searchStarted();
        }
        void messagesFound(const MessagesFound& e) override {
            if (!duringSearch) {
                std::filesystem::resize_file(path, 100000);
            }
            RecordingView::messagesFound(e);
        }
        bool yield() override {
            if (duringSearch && searching && ++calls == 2) {
                std::filesystem::resize_file(path, 100000);
            }
            return RecordingView::yield();
        }
    };
    for (const bool duringSearch : {true, false}) {
        SCOPED_TRACE(duringSearch);
        std::filesystem::remove_all(dir);
        const auto a = writeMailbox("A.mbx", m0 + m1 + big);
        Shrinking shrinking;
        shrinking.path = a;
        shrinking.duringSearch = duringSearch;
        options.scanBlockSize = 4096;
        FakeDesktop d;
        d.folderChoices.push_back(outRoot());
        ConversionRun run(d, shrinking, nullptr, options);
        EXPECT_EQ(run.run({{a}, Format::Eml, {}}), RunOutcome::Failed);

        EXPECT_EQ(testing::slurp(outFolder(a) / "email-0.eml"), m0 + "\r\n");
        EXPECT_EQ(testing::slurp(outFolder(a) / "email-1.eml"), m1 + "\r\n");
        EXPECT_FALSE(std::filesystem::exists(outFolder(a) / "email-2.eml"));
        const auto text = testing::slurp(dir / "out" / "Mbxvane report.txt");
        const auto offset = std::to_string(m0.size() + m1.size());
        EXPECT_NE(text.find(duringSearch
                                ? a +
                                      ": the mailbox could not be read past byte 100000 (the "
                                      "file ended early); nothing from byte " +
                                      offset + " on was converted"
                                : a + ": message 2 at byte " + offset),
                  std::string::npos)
            << text;
        ASSERT_EQ(d.boxes.size(), 1u);
        EXPECT_EQ(d.boxes[0].icon, Icon::Exclamation);
    }
}

TEST(RunNamesTest, MailboxNameAndFolderRules) {
    EXPECT_EQ(mailboxNameOf("Inbox.mbox"), "Inbox");
    EXPECT_EQ(mailboxNameOf("Inbox.MBOX"), "Inbox");
    EXPECT_EQ(mailboxNameOf("Inbox.mbx"), "Inbox.mbx");
    EXPECT_EQ(mailboxNameOf("Inbox.Mbox"), "Inbox.Mbox");
    EXPECT_EQ(mailboxNameOf(" In.mbox.MBOX "), "In");
    EXPECT_EQ(mailboxNameOf("a.mbox.mbox b"), "a b");
    EXPECT_EQ(mailboxNameOf(".mb.mboxox"), ".mbox"); // one pass, pieces that meet stay
#ifdef _WIN32
    EXPECT_EQ(mailboxFolderOf("D:\\out\\", "C:\\Users\\ann\\In.mbx"),
              "D:\\out\\Users\\ann\\In.mbx");
    EXPECT_EQ(mailboxFolderOf("D:\\", "C:\\In.mbx"), "D:\\In.mbx");
#else
    EXPECT_EQ(mailboxFolderOf("/out/", "/home/ann/Mail/In.mbx"), "/out/home/ann/Mail/In.mbx");
    EXPECT_EQ(mailboxFolderOf("/out/", "rel/In.mbx"), "/out/rel/In.mbx");
    EXPECT_EQ(mailboxFolderOf("/", "/In.mbx"), "/In.mbx");
#endif
}

} // namespace
} // namespace mbx::convert
