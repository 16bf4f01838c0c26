// Real conversions through the window: pick mailboxes, choose a format, press Convert.
#include "app/conversion_controller.h"
#include "app/frm_step1.h"
#include "press_convert.h"
#include "selection/mailbox_list.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/files.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using mbx::desktop::Buttons;
using mbx::desktop::Icon;

using mbx::testing::quoted;
using mbx::testing::slurp;

namespace {

class WindowConversion : public ::testing::Test {
protected:
    fs::path root =
        fs::path(MBX_SCRATCH_DIR) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::path in = root / "in";
    fs::path out = root / "out";
    mbx::testing::FakeDesktop desktop;
    mbx::app::frmStep1 window{desktop};
    mbx::app::ConversionController controller{window};

    void SetUp() override {
        fs::remove_all(root);
        mbx::testing::writeFile(in / "In.mbx",
                                "From ???@??? Mon\r\nHi\r\nFrom ???@??? Tue\r\nYo   \r\n");
        mbx::testing::writeFile(in / "Sub" / "Out.mbox",
                                "junk before\r\nFrom ???@??? Wed\r\nA\r\n");
        mbx::testing::writeFile(in / "Empty.mbx", "no separator here\r\n");
        desktop.fileChoices.push_back({in.string(), {"In.mbx", "Sub/Out.mbox", "Empty.mbx"}});
        QTest::mouseClick(window.cmdAdd, Qt::LeftButton);
    }
    fs::path mailboxFolder(const std::string& name) {
        return out / fs::path(in / name).relative_path();
    }
};

} // namespace

TEST_F(WindowConversion, ThreeMailboxesToEmlThroughTheWindow) {
    window.OptEML->click();
    desktop.folderChoices.push_back(out.string());
    mbx::testing::pressConvert(window, controller);

    EXPECT_EQ(desktop.folderTitles, std::vector<std::string>{"Choose Folder to Save..."});
    // The bytes are checked on the whole Eudora tree below; a file without a separator still
    // gets its folder, and is a failure.
    EXPECT_TRUE(fs::exists(mailboxFolder("Sub/Out.mbox") / "email-0.eml"));
    EXPECT_TRUE(fs::is_empty(mailboxFolder("Empty.mbx")));

    // The window ends on the values of the last mailbox.
    EXPECT_EQ(window.LblProgessCurrent->text().toStdString(), "Mailbox 3 (of 3) ");
    EXPECT_EQ(window.LblIMMFile->text().toStdString(), "Empty.mbx");
    EXPECT_EQ(window.LblEmlsFound->text().toStdString(), "0 Messages");
    EXPECT_EQ(window.LblHappening->text().toStdString(), "Saving email messages...");
    EXPECT_EQ(window.ProgressBar1->value(), 100);

    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].caption, "Mbxvane"); // its text is checked with the run
    EXPECT_EQ(desktop.boxes[0].icon, Icon::Exclamation);
    EXPECT_EQ(desktop.boxes[0].buttons, Buttons::Ok);
    EXPECT_TRUE(window.CmdConvert->isEnabled());
    for (auto* option : {window.OptEML, window.OptEMLX, window.OptPST, window.OptMSG}) {
        EXPECT_FALSE(option->isChecked());
    }

    // Convert again without a format: only the question for one.
    mbx::testing::pressConvert(window, controller);
    ASSERT_EQ(desktop.boxes.size(), 2u);
    EXPECT_EQ(desktop.boxes[1].text, "Please select a option to convert file(s).");
    EXPECT_EQ(desktop.boxes[1].icon, Icon::Information);
    EXPECT_EQ(desktop.folderTitles.size(), 1u);
}

// Clearing leaves Convert enabled (as it always did); pressed then, it says the list is empty
// and does nothing else: no folder question, no run, no row left highlighted to be taken for one.
TEST_F(WindowConversion, ConvertAfterClearingTheListSaysSoAndDoesNothingElse) {
    desktop.answers.push_back(mbx::desktop::Answer::Yes);
    QTest::mouseClick(window.cmdClear1, Qt::LeftButton);
    EXPECT_EQ(window.grdFiles1->currentRow(), -1);
    EXPECT_FALSE(window.grdFiles1->selectionModel()->hasSelection());
    ASSERT_TRUE(window.CmdConvert->isEnabled());

    window.OptEML->click();
    desktop.folderChoices.push_back(out.string());
    mbx::testing::pressConvert(window, controller);
    ASSERT_EQ(desktop.boxes.size(), 2u); // the clear question, then this
    EXPECT_EQ(desktop.boxes[1].caption, "Mbxvane");
    EXPECT_EQ(desktop.boxes[1].text,
              "0 files in the list.\r\nAdd mailboxes with \"Select (.mbx) file(s)...\" or "
              "\"Select folder having (.mbx) file(s)...\" first.");
    EXPECT_EQ(desktop.boxes[1].icon, Icon::Information);
    EXPECT_TRUE(desktop.folderTitles.empty());
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(window.LblProgessCurrent->text().toStdString(), "Mailbox  0 (of 0)");
    EXPECT_TRUE(window.OptEML->isChecked());
    EXPECT_TRUE(window.CmdConvert->isEnabled());
}

TEST_F(WindowConversion, EmlxWritesTheSameBytesUnderItsOwnName) {
    window.OptEMLX->click();
    desktop.folderChoices.push_back(out.string() + "/");
    mbx::testing::pressConvert(window, controller);
    EXPECT_EQ(slurp(mailboxFolder("In.mbx") / "email-1.emlx"), "From ???@??? Tue\r\nYo   \r\n\r\n");
    EXPECT_FALSE(fs::exists(mailboxFolder("In.mbx") / "email-1.eml"));
}

// The run's thread waits while the window shows a mailbox's problem boxes, then goes on.
TEST_F(WindowConversion, AMailboxGoneBeforeTheRunIsToldInItsTurn) {
    fs::remove(in / "Sub" / "Out.mbox");
    window.OptEML->click();
    desktop.folderChoices.push_back(out.string());
    mbx::testing::pressConvert(window, controller);
    ASSERT_EQ(desktop.boxes.size(), 2u);
    EXPECT_EQ(desktop.boxes[0].caption, "File Reader");
    EXPECT_EQ(desktop.boxes[0].text, "File not found !");
    EXPECT_EQ(desktop.boxes[1].caption, "Mbxvane");
    EXPECT_TRUE(fs::exists(mailboxFolder("In.mbx") / "email-1.eml"));
    EXPECT_EQ(window.LblProgessCurrent->text().toStdString(), "Mailbox 3 (of 3) ");
}

TEST_F(WindowConversion, CancelledFolderDialogChangesNothing) {
    window.OptEML->click();
    mbx::testing::pressConvert(window, controller);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(window.OptEML->isChecked());
    EXPECT_TRUE(window.CmdConvert->isEnabled());
}

TEST_F(WindowConversion, AClickArrivingDuringARunStartsNoSecondRun) {
    window.OptEML->click();
    desktop.folderChoices.push_back(out.string());
    desktop.folderChoices.push_back(out.string());
    // Queue a second click before the first is handled: it arrives while the run is under way.
    QTimer::singleShot(0, window.CmdConvert, &QPushButton::click);
    mbx::testing::pressConvert(window, controller);
    EXPECT_EQ(desktop.folderTitles.size(), 1u);
    EXPECT_EQ(desktop.boxes.size(), 1u); // one completion box
    EXPECT_EQ(slurp(mailboxFolder("In.mbx") / "email-0.eml"), "From ???@??? Mon\r\nHi\r\n\r\n");
}

// The mailbox tree of tests/data as a user's mail folder: the scan takes the six mailboxes (not
// the .bak, .toc and .pce files beside them, and the sub-folder too), and every message lands in
// its .eml file byte for byte, followed by the line end every .eml gets: separators without a
// blank line before them, raw 8-bit bytes, a last message without a line end.
TEST(WindowConversionOfATree, EveryMessageOfTheEudoraTreeKeepsItsBytes) {
    const fs::path tree = fs::path(MBX_DATA_DIR) / "eudora";
    const fs::path out = fs::path(MBX_SCRATCH_DIR) / "eudora-tree";
    fs::remove_all(out);
    fs::create_directories(out);
    mbx::testing::FakeDesktop desktop;
    mbx::app::frmStep1 window{desktop};
    mbx::app::ConversionController controller{window};
    desktop.folderChoices.push_back(tree.string());
    QTest::mouseClick(window.CmdAddFolder, Qt::LeftButton);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "6 Files Added to List.");
    window.OptEML->click();
    desktop.folderChoices.push_back(out.string());
    mbx::testing::pressConvert(window, controller);

    std::size_t messages = 0;
    for (const char* name : {"In.mbx", "Out.mbx", "Junk.mbx", "Trash.mbx", "Projects/Music.mbx",
                             "Projects/Baidarka.mbx"}) {
        const std::string box = slurp(tree / name);
        const fs::path folder = out / (tree / name).relative_path();
        std::size_t k = 0;
        for (std::size_t at = box.find("From ???@???"); at != std::string::npos; ++k) {
            const std::size_t next = box.find("\r\nFrom ???@???", at);
            const std::size_t end = next == std::string::npos ? box.size() : next + 2;
            EXPECT_EQ(slurp(folder / ("email-" + std::to_string(k) + ".eml")),
                      box.substr(at, end - at) + "\r\n")
                << name << " #" << k;
            at = next == std::string::npos ? next : end;
        }
        EXPECT_FALSE(fs::exists(folder / ("email-" + std::to_string(k) + ".eml"))) << name;
        messages += k;
    }
    EXPECT_EQ(messages, 13u);
}
