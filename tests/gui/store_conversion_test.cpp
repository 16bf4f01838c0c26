// Real .pst and .msg conversions through the window, checked with readers nobody here wrote:
// pffexport (libpff), pst-extractor and readpst (libpst) for the data files; msgconvert, olefile
// and msgreader for the message files (through tests/msg/check_msg.py); and our own structural
// checker.
#include "app/conversion_controller.h"
#include "app/frm_step1.h"
#include "press_convert.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/files.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#ifdef __linux__
#ifdef __linux__
#include <sys/mount.h>
#endif
#endif

namespace fs = std::filesystem;
using mbx::desktop::Icon;

using mbx::testing::quoted;
using mbx::testing::slurp;

namespace {

const fs::path kReal = fs::path(MBX_DATA_DIR) / "eml";

// Mailboxes made of real messages, each behind a separator line.
const std::map<std::string, std::vector<std::string>> kMailboxes = {
    {"Inbox.mbox", {"hunnysoft-eudora42__m2001.txt", "rubymail__attachment_message_rfc822.eml"}},
    {"Sent.mbx", {"hunnysoft-eudora42__m2005.txt", "rubymail__japanese_shift_jis.eml"}},
    {"Deep/Lists.mbx", {"hunnysoft-eudora42__m2015.txt"}},
};

// PidTagMessageFlags per folder: read, and has-attachments only where there are attachments.
const std::map<std::string, std::vector<int>> kFlags = {
    {"Inbox", {0x01, 0x11}}, {"Sent.mbx", {0x11, 0x01}}, {"Lists.mbx", {0x01}}};

class StoreConversion : public ::testing::Test {
protected:
    fs::path root =
        fs::path(MBX_SCRATCH_DIR) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::path in = root / "in";
    mbx::testing::FakeDesktop desktop;
    mbx::app::frmStep1 window{desktop};
    mbx::app::ConversionController controller{window};

    void SetUp() override {
        fs::remove_all(root);
        std::vector<std::string> names;
        for (const auto& [name, messages] : kMailboxes) {
            fs::create_directories((in / name).parent_path());
            std::ofstream box(in / name, std::ios::binary);
            for (const auto& m : messages) {
                box << "From ???@??? Mon Jan 01 10:00:00 2001\r\n" << slurp(kReal / m) << "\r\n";
            }
            names.push_back(name);
        }
        desktop.fileChoices.push_back({in.string(), names});
        QTest::mouseClick(window.cmdAdd, Qt::LeftButton);
    }

    // The folder dialog only offers folders that exist.
    void convert(QRadioButton* format, const fs::path& out, bool create = true) {
        if (create) {
            fs::create_directories(out);
        }
        format->click();
        desktop.folderChoices.push_back(out.string());
        mbx::testing::pressConvert(window, controller);
    }
    fs::path mailboxFolder(const fs::path& out, const std::string& name) {
        return out / fs::path(in / name).relative_path();
    }
};

// The folders pffexport exports under the data file's top folder, each with the
// PidTagMessageFlags of its messages in order (-1 for a message without them).
std::map<std::string, std::vector<int>> exportedFolders(const fs::path& pst,
                                                        const fs::path& target) {
    const fs::path exported = target.string() + ".export";
    fs::remove_all(exported);
    const auto [status, output] = mbx::testing::runCommand("pffexport -q -d -m items -f all -t " +
                                                           quoted(target) + " " + quoted(pst));
    EXPECT_EQ(status, 0) << output;
    std::map<std::string, std::vector<int>> folders;
    if (!fs::exists(exported)) {
        ADD_FAILURE() << "pffexport wrote nothing for " << pst;
        return folders;
    }
    for (const auto& top : fs::directory_iterator(exported)) {
        for (const auto& folder :
             top.is_directory() ? fs::directory_iterator(top.path()) : fs::directory_iterator()) {
            if (!folder.is_directory()) {
                continue;
            }
            std::vector<fs::path> messages;
            for (const auto& item : fs::directory_iterator(folder.path())) {
                if (item.path().filename().string().rfind("Message", 0) == 0) {
                    messages.push_back(item.path());
                }
            }
            std::sort(messages.begin(), messages.end());
            auto& flags = folders[folder.path().filename().string()];
            for (const auto& m : messages) {
                // "Entry type: 0x00000e07", "Value type: 0x00000003", then the bytes in hex.
                const std::string values = slurp(m / "ItemValues.txt");
                const auto entry = values.find("0x00000e07");
                const auto at =
                    entry == std::string::npos ? entry : values.find("0x00000000: ", entry);
                flags.push_back(at == std::string::npos ? -1
                                                        : std::stoi(values.substr(at + 15, 2) +
                                                                        values.substr(at + 12, 2),
                                                                    nullptr, 16));
            }
        }
    }
    return folders;
}

} // namespace

TEST_F(StoreConversion, PstTargetWritesOneDataFilePerMailboxReadByEveryReader) {
    // The .eml conversion of the same list gives the messages to compare with.
    const fs::path ref = root / "out-eml";
    convert(window.OptEML, ref);
    desktop.boxes.clear();
    const fs::path out = root / "out-pst";
    convert(window.OptPST, out);

    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text,
              "Your messages from Eudora Mailboxes has been successfully exported to Outlook "
              "(.pst) file.\r\n" +
                  std::string(75, '*') +
                  "\r\nStart Outlook and open converted pst file by clicking File -> Open -> "
                  "Outlook Data File. And it all done !");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::Information);

    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        // mailbox file -> data file, folder (".mbox" is dropped from the name, ".mbx" is not)
        {"Inbox.mbox", {"Inbox.pst", "Inbox"}},
        {"Sent.mbx", {"Sent.mbx.pst", "Sent.mbx"}},
        {"Deep/Lists.mbx", {"Lists.mbx.pst", "Lists.mbx"}},
    };
    for (const auto& [mailbox, names] : expected) {
        const auto& [file, folder] = names;
        const fs::path pst = out / file;
        ASSERT_TRUE(fs::exists(pst)) << pst;
        // The .eml files were only stepping stones.
        EXPECT_TRUE(fs::is_empty(mailboxFolder(out, mailbox))) << mailbox;

        const auto [checkStatus, checkOutput] =
            mbx::testing::runCommand(std::string(PSTCHECK) + " " + quoted(pst));
        EXPECT_EQ(checkStatus, 0) << checkOutput;

        const auto folders = exportedFolders(pst, root / ("export-" + folder));
        // Every message is flagged read; has-attachments only where there are attachments.
        ASSERT_TRUE(folders.contains(folder)) << file;
        EXPECT_EQ(folders.at(folder), kFlags.at(folder)) << file;

        const auto [status, json] = mbx::testing::runCommand(
            "node " + quoted(fs::path(MBX_SOURCE_DIR) / "tests/pst/pst_extractor_dump.js") + " " +
            quoted(MBX_CHECKERS_DIR) + " " + quoted(pst) + " " + quoted(root));
        ASSERT_EQ(status, 0) << json;
        const std::string node =
            "\"name\":\"/Top of Personal Folders/" + folder +
            "\",\"contentCount\":" + std::to_string(kMailboxes.at(mailbox).size());
        EXPECT_NE(json.find(node), std::string::npos) << node << "\n" << json;

        // Every message agrees with its mailbox text: subject, sender, recipients, date, bodies
        // and attachments, as pst-extractor and readpst read them.
        std::string emls;
        for (std::size_t k = 0; k < kMailboxes.at(mailbox).size(); ++k) {
            // Appended piece by piece: GCC 12 at -O3 warns falsely on " " + std::string&&.
            emls.append(" ").append(
                quoted(mailboxFolder(ref, mailbox) / ("email-" + std::to_string(k) + ".eml")));
        }
        const auto [agree, report] = mbx::testing::runCommand(
            "/usr/bin/python3 " + quoted(fs::path(MBX_SOURCE_DIR) / "tests/pst/check_pst.py") +
            " " + quoted(MBX_CHECKERS_DIR) + " " + quoted(root / "pst-check") + " " + quoted(pst) +
            " '/Top of Personal Folders/" + folder + "'" + emls);
        EXPECT_EQ(agree, 0) << report;
    }
}

TEST_F(StoreConversion, MsgTargetWritesOneMessageFileEachAgreeingWithTheMailbox) {
    // The .eml conversion of the same list gives the messages to compare with.
    const fs::path ref = root / "out-eml";
    convert(window.OptEML, ref);
    const fs::path out = root / "out-msg";
    convert(window.OptMSG, out);

    ASSERT_EQ(desktop.boxes.size(), 2u);
    EXPECT_EQ(desktop.boxes[1].icon, Icon::Information);

    std::string pairs;
    for (const auto& [mailbox, messages] : kMailboxes) {
        const fs::path folder = mailboxFolder(out, mailbox);
        std::size_t files = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(entry.path().extension(), ".msg") << entry.path();
            ++files;
        }
        EXPECT_EQ(files, messages.size()) << mailbox;
        for (std::size_t k = 0; k < messages.size(); ++k) {
            pairs.append(" ").append(
                quoted(mailboxFolder(ref, mailbox) / ("email-" + std::to_string(k) + ".eml")));
            pairs.append(" ").append(quoted(folder / ("Email-" + std::to_string(k) + ".msg")));
        }
    }
    const auto [status, report] = mbx::testing::runCommand(
        "/usr/bin/python3 " + quoted(fs::path(MBX_SOURCE_DIR) / "tests/msg/check_msg.py") + " " +
        quoted(fs::path(MBX_CHECKERS_DIR) / "node_modules") + " " + quoted(root) + pairs);
    EXPECT_EQ(status, 0) << report;

    // The run's temporary data file stays in the output folder with a folder per mailbox.
    std::vector<fs::path> temps;
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Temp", 0) == 0 && entry.path().extension() == ".pst") {
            temps.push_back(entry.path());
        }
    }
    ASSERT_EQ(temps.size(), 1u);
    const auto folders = exportedFolders(temps[0], root / "export-temp");
    auto expected = kFlags;
    expected["Deleted Items"] = {};
    EXPECT_EQ(folders, expected);
}

// Data files that cannot be created (a name too long, a read-only output folder) and a file that
// is no Eudora mailbox are failures like any other: the run goes on, the closing box is the
// warning with the counts and the report, and no box talks about Outlook.
TEST_F(StoreConversion, DataFilesThatCannotBeCreatedAndNonMailboxesEndInTheWarning) {
    const std::string longName = std::string(250, 'L') + ".mbx"; // its .pst name is too long
    std::ofstream(in / longName, std::ios::binary)
        << "From ???@??? Mon Jan 01 10:00:00 2001\r\nSubject: long\r\n\r\nbody\r\n";
    std::ofstream(in / "Unix.mbx", std::ios::binary)
        << "From alice@example.org Mon Jan  1 10:00:00 2001\nSubject: mbox\n\nbody\n";
    desktop.fileChoices.push_back({in.string(), {longName, "Unix.mbx"}});
    QTest::mouseClick(window.cmdAdd, Qt::LeftButton);
    const auto closingBox = [this] {
        EXPECT_EQ(desktop.boxes.size(), 1u);
        const auto box = desktop.boxes.empty() ? mbx::testing::RecordedBox{} : desktop.boxes.back();
        EXPECT_EQ(box.caption, "Mbxvane");
        EXPECT_EQ(box.icon, Icon::Exclamation);
        EXPECT_TRUE(window.CmdConvert->isEnabled());
        const auto at = box.text.rfind("\r\n");
        return std::pair{box.text,
                         at == std::string::npos ? std::string() : box.text.substr(at + 2)};
    };

    const fs::path out = root / "out";
    convert(window.OptPST, out);
    const auto [text, reportPath] = closingBox();
    const std::string counts = "Not every message could be converted.\r\n\r\n5 of 6 messages "
                               "written to Outlook data files (.pst).\r\n2 problems";
    EXPECT_EQ(text.substr(0, counts.size()), counts);
    EXPECT_EQ(reportPath, (out / "Mbxvane report.txt").string());
    const auto report = slurp(reportPath);
    EXPECT_NE(report.find((in / "Unix.mbx").string() +
                          ": no Eudora message separator found; is this a Eudora mailbox?"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find((in / longName).string() +
                          ": the Outlook data file could not be "
                          "created: cannot create the data file " +
                          (out / longName).string() + ".pst: "),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(std::make_error_code(std::errc::filename_too_long).message()),
              std::string::npos)
        << report;
    std::vector<std::string> dataFiles;
    for (const auto& e : fs::directory_iterator(out)) {
        if (e.path().extension() == ".pst") {
            dataFiles.push_back(e.path().filename().string());
        }
    }
    std::sort(dataFiles.begin(), dataFiles.end());
    EXPECT_EQ(dataFiles, (std::vector<std::string>{"Inbox.pst", "Lists.mbx.pst", "Sent.mbx.pst"}));

#ifdef __linux__
    // A folder nothing can be created in; the report goes to the temporary folder.
    const fs::path readOnly = root / "read-only";
    fs::create_directories(readOnly);
    if (::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
        GTEST_SKIP() << "mounting a read-only tmpfs is not permitted here: "
                     << std::strerror(errno);
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{readOnly};
    for (QRadioButton* format : {window.OptPST, window.OptMSG}) {
        desktop.boxes.clear();
        convert(format, readOnly, false);
        const auto [text2, report2] = closingBox();
        EXPECT_NE(text2.find("0 of 6 messages written"), std::string::npos) << text2;
        const auto reported = slurp(report2);
        fs::remove(report2);
        EXPECT_NE(reported.find(std::make_error_code(std::errc::read_only_file_system).message()),
                  std::string::npos)
            << reported;
        EXPECT_TRUE(fs::is_empty(readOnly));
    }
#endif
}

TEST(StoreConversionClose, ClosingDuringAPstRunLeavesTheOpenDataFileComplete) {
    const fs::path root = fs::path(MBX_SCRATCH_DIR) / "close-during-run";
    fs::remove_all(root);
    fs::create_directories(root / "out");
    const std::string message = "From: a@example.org\r\nTo: b@example.org\r\nSubject: n\r\n\r\n" +
                                std::string(2000, 'x') + "\r\n";
    for (const char* name : {"Big.mbox", "Later.mbox"}) {
        std::ofstream box(root / name, std::ios::binary);
        for (int i = 0; i < 400; ++i) {
            box << "From ???@??? Mon Jan 01 10:00:00 2001\r\n" << message;
        }
    }
    mbx::testing::FakeDesktop desktop;
    mbx::app::frmStep1 window{desktop};
    mbx::app::ConversionController controller{window};
    desktop.fileChoices.push_back({root.string(), {"Big.mbox", "Later.mbox"}});
    QTest::mouseClick(window.cmdAdd, Qt::LeftButton);
    window.OptPST->click();
    desktop.folderChoices.push_back((root / "out").string());

    // Close the window as the fifth message is saved: the run's thread waits until the close
    // has asked it to stop, so it stops right after that message.
    const fs::path big = root / "out" / "Big.pst";
    controller.afterMessage = [&window](mbx::app::ConversionThread& thread,
                                        const mbx::convert::MessageDone& done) {
        if (done.writtenSoFar == 5) {
            QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
            thread.waitForStopRequest();
        }
    };
    mbx::testing::pressConvert(window, controller);

    EXPECT_TRUE(window.closing());
    EXPECT_TRUE(desktop.boxes.empty()); // no completion message
    EXPECT_FALSE(fs::exists(root / "out" / "Later.pst"));
    const auto [status, output] =
        mbx::testing::runCommand(std::string(PSTCHECK) + " " + quoted(big));
    EXPECT_EQ(status, 0) << output;
    const auto folders = exportedFolders(big, root / "export-big");
    ASSERT_TRUE(folders.contains("Big"));
    EXPECT_EQ(folders.at("Big").size(), 5u); // stopped part-way, with what was saved so far
}
