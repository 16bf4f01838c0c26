// The mail-store calls the run makes, on real data files read back by libpff.
#include "mailstore/mapi/tags.h"
#include "mailstore/session/session.h"
#include "session_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace mbx::session;
using mbx::testing::folderCounts;
using mbx::testing::runCommand;
using mbx::testing::scratch;
using mbx::testing::writeFile;

namespace {

const char* kPlain = "From ???@??? Mon Jan 01 10:00:00 2001\r\n"
                     "From: Ann <ann@example.org>\r\nTo: bob@example.org\r\nSubject: plain\r\n"
                     "\r\nHello\r\n";
const char* kWithAttachment =
    "From: ann@example.org\r\nTo: bob@example.org\r\nSubject: attached\r\n"
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nsee file\r\n"
    "--b\r\nContent-Type: application/octet-stream\r\n"
    "Content-Disposition: attachment; filename=a.bin\r\n\r\nxyz\r\n--b--\r\n";

struct Session : ::testing::Test {
    fs::path dir = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

} // namespace

TEST_F(Session, StoreFolderItemsImportFlagsAndSave) {
    writeFile(dir / "a.eml", kPlain);
    writeFile(dir / "b.eml", kWithAttachment);
    const std::string pst = (dir / "Inbox.pst").string();
    {
        RDOSession session;
        session.Logon();
        RDOStore store = session.Stores().AddPSTStore(pst, kStoreFormatDefault, "Inbox");
        store.IPMRootFolder().Folders().Add("Inbox", kFolderKindMail);
        // A second folder of the same name under the same parent is refused.
        EXPECT_THROW(store.IPMRootFolder().Folders().Add("Inbox", kFolderKindMail), SessionError);

        std::vector<std::int32_t> flags;
        for (const char* eml : {"a.eml", "b.eml"}) {
            auto item = session.GetFolderFromPath("\\\\Inbox\\Inbox").Items().Add(kItemKindMail);
            item->Import((dir / eml).string(), kImportRfc822);
            MAPIUtils utils;
            utils.HrSetOneProp(item->MAPIOBJECT(), kPrMessageFlags, 17, true);
            item->Save(); // already saved by the utility and unchanged: not written twice
            flags.push_back(*item->message().props.int32(mbx::mapi::tags::MessageFlags));
        }
        // Read is kept; has-attachments follows the message.
        EXPECT_EQ(flags, (std::vector<std::int32_t>{0x01, 0x11}));
        // An item that is never saved is not written.
        auto unsaved = session.GetFolderFromPath("\\\\Inbox\\Inbox").Items().Add(kItemKindMail);
        unsaved->Import((dir / "a.eml").string(), kImportRfc822);
        store.Remove();
        session.Logoff();
    }
    const auto [status, out] = runCommand(std::string(PSTCHECK) + " '" + pst + "'");
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(folderCounts(pst), "Deleted Items=0\nInbox=2\n");
}

TEST_F(Session, FailuresAreSessionErrors) {
    RDOSession session;
    EXPECT_THROW(session.Stores(), SessionError); // not logged on
    session.Logon();
    // Nowhere to create the file.
    EXPECT_THROW(session.Stores().AddPSTStore((dir / "no" / "such" / "x.pst").string(), 1, "x"),
                 SessionError);
    // An existing file is never replaced.
    writeFile(dir / "mine.pst", "not ours");
    EXPECT_THROW(session.Stores().AddPSTStore((dir / "mine.pst").string(), 1, "mine"),
                 SessionError);
    EXPECT_EQ(mbx::testing::runCommand("cat '" + (dir / "mine.pst").string() + "'").second,
              "not ours");

    RDOStore store = session.Stores().AddPSTStore((dir / "s.pst").string(), 1, "S");
    store.IPMRootFolder().Folders().Add("F", kFolderKindMail);
    EXPECT_THROW(session.GetFolderFromPath("\\\\Other\\F"), SessionError);
    EXPECT_THROW(session.GetFolderFromPath("\\\\S\\G"), SessionError);
    EXPECT_THROW(session.GetFolderFromPath("S\\F"), SessionError);
    auto item = session.GetFolderFromPath("\\\\S\\F").Items().Add(kItemKindMail);
    EXPECT_THROW(item->Import((dir / "missing.eml").string(), kImportRfc822), SessionError);
    EXPECT_THROW(item->SaveAs((dir / "no" / "dir" / "x.msg").string(), kSaveAsMsg), SessionError);
    store.Remove();
    // After Remove the store takes no more items, and its file is complete.
    EXPECT_THROW(store.IPMRootFolder(), SessionError);
    EXPECT_EQ(folderCounts(dir / "s.pst"), "Deleted Items=0\nF=0\n");
}

TEST_F(Session, EndingTheSessionCompletesItsDataFiles) {
    writeFile(dir / "a.eml", kPlain);
    {
        RDOSession session;
        session.Logon();
        RDOStore store = session.Stores().AddPSTStore((dir / "open.pst").string(), 1, "Open");
        store.IPMRootFolder().Folders().Add("Open", kFolderKindMail);
        auto item = session.GetFolderFromPath("\\\\Open\\Open").Items().Add(kItemKindMail);
        item->Import((dir / "a.eml").string(), kImportRfc822);
        item->Save();
        // Neither Remove nor Logoff: the program ends with the store still in the session.
    }
    EXPECT_EQ(folderCounts(dir / "open.pst"), "Deleted Items=0\nOpen=1\n");
}
