// The File Reader window used by itself: its buttons, its warnings and its text surface.
#include "reader/frm_finder.h"
#include "tests/support/fake_desktop.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using mbx::desktop::Icon;

namespace {

class FileReaderWindow : public ::testing::Test {
protected:
    mbx::testing::FakeDesktop desktop;
    mbx::reader::FrmFinder window{desktop};
    std::string surface() { return window.surfaceText().toStdString(); }
    void click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
};

} // namespace

TEST_F(FileReaderWindow, FindWithoutAFileNameWarnsAndOpenDoesNothing) {
    EXPECT_TRUE(window.Check1->isChecked());
    EXPECT_EQ(window.Check1->text().toStdString(), "Case Sensitive");
    EXPECT_EQ(window.Command4->text().toStdString(), "Command4");
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_EQ(window.windowIcon().availableSizes().size(), 4); // the application's icon

    click(window.Command1);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(desktop.beeps, 0);

    click(window.Command3);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "Enter name of the file to be searched...");
    EXPECT_EQ(desktop.boxes[0].caption, "File Reader");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::None);
    EXPECT_EQ(desktop.beeps, 1);
}

TEST_F(FileReaderWindow, FindThenNextWriteTheSurfaceAndEndOnEof) {
    const fs::path file = fs::path(MBX_SCRATCH_DIR) / "reader" / "box.mbx";
    fs::create_directories(file.parent_path());
    const std::string bytes = "From ???@??? Mon\r\nHi\r\nFrom ???@??? Tue\r\nYo\r\n";
    std::ofstream(file, std::ios::binary) << bytes;
    window.Text1->setText(QString::fromStdString(file.string()));
    window.Text2->setText(QStringLiteral("From ???@???"));

    click(window.Command3);
    // The match and what follows it: 44 - 13 = 31 left, less the 12 of the match: 19 more.
    EXPECT_EQ(surface(), "FILE SIZE : 44 bytes\r\nByte :0\r\n" + bytes.substr(0, 12 + 19));
    // Too little follows the match at 22 for more than the match itself to show.
    click(window.Command4);
    EXPECT_EQ(surface(), "FILE SIZE : 44 bytes\r\nByte :22\r\nFrom ???@???");
    click(window.Command4);
    EXPECT_EQ(surface(), "FILE SIZE : 44 bytes\r\n\n\r\n[EOF]\r\n");
    EXPECT_EQ(window.state().offsetsText(), "0|22|");
    EXPECT_TRUE(window.state().endOfSearch);
    EXPECT_TRUE(desktop.boxes.empty());

    // After the end, the next-occurrence button only beeps.
    const int beeps = desktop.beeps;
    click(window.Command4);
    EXPECT_EQ(desktop.beeps, beeps + 1);
    EXPECT_TRUE(desktop.boxes.empty());

    // Closing the window closes the open file.
    EXPECT_GT(window.reader().FileNo(), 0);
    window.close();
    EXPECT_EQ(window.reader().FileNo(), 0);
}

TEST_F(FileReaderWindow, BytesShowAndMatchAsWindows1252) {
    const fs::path file = fs::path(MBX_SCRATCH_DIR) / "reader" / "cp1252.mbx";
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << "x \x80uro \x93q\x94 caf\xE9!12345";
    window.Text1->setText(QString::fromStdString(file.string()));
    window.Text2->setText(QString::fromUtf8("\xE2\x82\xACuro")); // typed as "€uro"
    click(window.Command3);
    EXPECT_EQ(window.state().offsetsText(), "2|");
    EXPECT_EQ(surface(), "FILE SIZE : 21 bytes\r\nByte :2\r\n"
                         "\xE2\x82\xACuro \xE2\x80\x9Cq\xE2\x80\x9D caf\xC3\xA9!");
}

TEST_F(FileReaderWindow, CaseSensitiveBoxDecidesTheMatch) {
    const fs::path file = fs::path(MBX_SCRATCH_DIR) / "reader" / "lower.mbx";
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << "from ???@??? x\r\n";
    window.Text1->setText(QString::fromStdString(file.string()));
    window.Text2->setText(QStringLiteral("From ???@???"));
    click(window.Command3);
    EXPECT_EQ(window.state().offsetsText(), "");
    window.reader().CloseFile();

    window.Check1->setChecked(false);
    click(window.Command3);
    EXPECT_EQ(window.state().offsetsText(), "0|");
}

TEST_F(FileReaderWindow, AReadFailureIsToldNotTakenForTheEnd) {
    // The file shrinks between two searches, past the block already read.
    const fs::path file = fs::path(MBX_SCRATCH_DIR) / "reader" / "shrinks.mbx";
    fs::create_directories(file.parent_path());
    std::string bytes(600000, 'x');
    bytes.replace(0, 12, "From ???@???");
    bytes.replace(500000, 12, "From ???@???");
    std::ofstream(file, std::ios::binary) << bytes;
    window.Text1->setText(QString::fromStdString(file.string()));
    window.Text2->setText(QStringLiteral("From ???@???"));
    click(window.Command3);
    EXPECT_EQ(window.state().offsetsText(), "0|");
    fs::resize_file(file, 300000);

    click(window.Command4);
    EXPECT_TRUE(window.state().endOfSearch);
    EXPECT_EQ(surface().find("[EOF]"), std::string::npos);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "The file could not be read past byte 300000 (the file ended "
                                     "early): the search ended there.");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::Exclamation);
}
