// The real main window on the offscreen platform, driven by clicking its controls against the
// scripted desktop.
#include "app/frm_step1.h"
#include "app/window_constants.h"
#include "desktop/qt_desktop.h"
#include "selection/mailbox_list.h"
#include "tests/support/fake_desktop.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionGroupBox>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace fs = std::filesystem;
using mbx::app::frmStep1;
using mbx::desktop::Answer;
using mbx::desktop::Buttons;
using mbx::desktop::Icon;
using mbx::desktop::tw;
using mbx::testing::FakeDesktop;

namespace {

// A row as the list shows it: the folder, then the rest with the system's separators.
std::string row(const fs::path& folder, const std::string& rest) {
    return (folder / fs::path(rest).make_preferred()).string();
}

class MainWindow : public ::testing::Test {
protected:
    FakeDesktop desktop;
    std::unique_ptr<frmStep1> window = std::make_unique<frmStep1>(desktop);

    template <typename T = QWidget> T* control(const char* name) {
        auto* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    std::vector<std::string> rows() { return window->mailboxList().rows(); }
    std::string count() { return window->lblCount1->text().toStdString(); }
};

struct Placement {
    const char* name;
    const char* parent;
    int left, top, width, height;
};

} // namespace

TEST_F(MainWindow, EveryControlSitsWhereTheLayoutPutsIt) {
    const Placement table[] = {
        {"Image2", "frmStep1", 0, 0, 9000, 1275},
        {"cmdAdd", "frmStep1", 240, 1440, 2535, 375},
        {"CmdAddFolder", "frmStep1", 3000, 1440, 3375, 375},
        {"cmdClear1", "frmStep1", 7440, 1440, 1335, 375},
        {"lblCount1", "frmStep1", 270, 1920, 8535, 255},
        {"grdFiles1", "frmStep1", 240, 2160, 8535, 1575},
        {"Frame1", "frmStep1", 240, 3840, 8535, 1335},
        {"Picture1", "Frame1", 120, 240, 8295, 975},
        {"Label4", "frmStep1", 240, 5235, 1815, 255},
        {"LblHappening", "frmStep1", 2040, 5235, 6735, 255},
        {"LblProgessCurrent", "frmStep1", 600, 5520, 8175, 255},
        {"Label1", "frmStep1", 600, 5760, 1335, 255},
        {"LblIMMFile", "frmStep1", 1920, 5760, 6855, 255},
        {"ProgressBar2", "frmStep1", 600, 6000, 8175, 255},
        {"Label2", "frmStep1", 600, 6285, 1335, 255},
        {"LblEmlsFound", "frmStep1", 1920, 6285, 6855, 255},
        {"LblByteUpdate", "frmStep1", 960, 6480, 7815, 255},
        {"Image3", "frmStep1", 600, 6735, 240, 240},
        {"LblProgress", "frmStep1", 960, 6735, 7815, 255},
        {"ProgressBar1", "frmStep1", 600, 7080, 8175, 255},
        {"CmdConvert", "frmStep1", 3120, 7680, 2775, 435},
        {"Shape1", "frmStep1", 0, 8280, 9015, 855},
        {"Picture3", "frmStep1", 240, 8400, 8655, 495},
        {"CmdHelp", "Picture3", 0, 0, 1695, 375},
        {"cmdEnd", "Picture3", 7200, 0, 1335, 375},
    };
    for (const auto& p : table) {
        QWidget* w = control(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), p.parent) << p.name;
        EXPECT_EQ(w->geometry(), QRect(tw(p.left), tw(p.top), tw(p.width), tw(p.height))) << p.name;
    }
    EXPECT_EQ(window->size(), QSize(tw(8985), tw(8895)));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // fixed size
    EXPECT_EQ(window->windowTitle().toStdString(), "Brackwell Mbxvane v1.0");
    EXPECT_EQ(window->Line1->geometry().top(), tw(1280));
}

TEST_F(MainWindow, AllFourFormatChoicesShowInsideTheirPanelInOrder) {
    const QRect panel(QPoint(0, 0), window->Picture1->size());
    int lastTop = -1;
    for (const char* name : {"OptEML", "OptEMLX", "OptPST", "OptMSG"}) {
        auto* option = control<QRadioButton>(name);
        EXPECT_EQ(option->parentWidget(), window->Picture1) << name;
        EXPECT_TRUE(panel.contains(option->geometry())) << name;
        EXPECT_GT(option->geometry().top(), lastTop) << name;
        lastTop = option->geometry().bottom();
        EXPECT_FALSE(option->isChecked()) << name;
    }
    window->OptPST->click();
    window->OptMSG->click();
    EXPECT_FALSE(window->OptPST->isChecked()); // one group
    EXPECT_TRUE(window->OptMSG->isChecked());
    EXPECT_EQ(window->OptMSG->text().toStdString(),
              "(.msg) files         -     (Supported by MS Outlook, Document Management Software, "
              "Forensic Tools)");
}

TEST_F(MainWindow, StartsEmptyWithConvertDisabledAndFocusOnAdd) {
    window->show();
    QApplication::setActiveWindow(window.get());
    QApplication::processEvents();
    EXPECT_EQ(count(), "0 files");
    EXPECT_EQ(rows(), std::vector<std::string>{""});
    EXPECT_FALSE(window->CmdConvert->isEnabled());
    EXPECT_EQ(window->LblProgessCurrent->text().toStdString(), "Mailbox  0 (of 0)");
    EXPECT_EQ(window->Label1->text().toStdString(), "Reading          :");
    EXPECT_EQ(window->Frame1->title().toStdString(), " I want to convert mbox mailbox messages to");
    EXPECT_EQ(window->ProgressBar1->value(), 0);
    EXPECT_EQ(window->focusWidget(), window->cmdAdd);
    for (auto* button : window->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
    EXPECT_DOUBLE_EQ(window->cmdAdd->font().pointSizeF(), 8.25);
    EXPECT_TRUE(window->Label1->font().bold());
}

TEST_F(MainWindow, TabGoesThroughTheControlsInTabIndexOrder) {
    std::vector<std::string> chain;
    QWidget* w = window->cmdAdd;
    for (int i = 0; i < 11; ++i) {
        chain.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !w->isEnabled()) {
            w = w->nextInFocusChain();
        }
    }
    // CmdConvert is disabled at start and so not in the walk.
    EXPECT_EQ(chain, (std::vector<std::string>{"cmdAdd", "cmdClear1", "CmdAddFolder", "grdFiles1",
                                               "cmdEnd", "CmdHelp", "OptMSG", "OptPST", "OptEML",
                                               "OptEMLX", "cmdAdd"}));
}

TEST_F(MainWindow, PickerAppendsChosenFilesAndEnablesConvert) {
    desktop.fileChoices.push_back({"/home/ann/Mail", {"In.mbx", "Out.mbx", "Trash.mbox"}});
    click("cmdAdd");
    ASSERT_EQ(desktop.fileRequests.size(), 1u);
    EXPECT_EQ(desktop.fileRequests[0].filter, "Eudora Mailboxes (*.mbx,*.mbox)|*.mbx;*.mbox");
    EXPECT_EQ(mbx::desktop::QtDesktop::qtFilter(desktop.fileRequests[0].filter).toStdString(),
              "Eudora Mailboxes (*.mbx *.mbox)");
    EXPECT_TRUE(desktop.fileRequests[0].multiSelect);
    EXPECT_EQ(rows(), (std::vector<std::string>{row("/home/ann/Mail", "In.mbx"),
                                                row("/home/ann/Mail", "Out.mbx"),
                                                row("/home/ann/Mail", "Trash.mbox")}));
    EXPECT_EQ(count(), "3 files");
    EXPECT_TRUE(window->CmdConvert->isEnabled());
    EXPECT_TRUE(desktop.boxes.empty());

    // The same file again is a second row; a cancelled dialog changes nothing.
    desktop.fileChoices.push_back({"/home/ann/Mail", {"In.mbx"}});
    click("cmdAdd");
    click("cmdAdd");
    EXPECT_EQ(rows().size(), 4u);
    EXPECT_EQ(rows().back(), row("/home/ann/Mail", "In.mbx"));
    EXPECT_EQ(count(), "4 files");
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(MainWindow, PickerRefusesASelectionThatWouldNotFitTheDialogBuffer) {
    // Folder of 9 characters: 9 + NUL + final NUL leave 989; names of 99 + NUL fit 9 times.
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back(std::string(95, 'a' + i) + ".mbx");
    }
    desktop.fileChoices.push_back({"/mailroom", names});
    click("cmdAdd");
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].caption, "Mbxvane");
    EXPECT_EQ(desktop.boxes[0].text, "Please select only 9 files at a time");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::Exclamation);
    EXPECT_EQ(desktop.boxes[0].buttons, Buttons::Ok);
    EXPECT_EQ(rows(), std::vector<std::string>{""});
    EXPECT_EQ(count(), "0 files");
    EXPECT_FALSE(window->CmdConvert->isEnabled());

    names.resize(9); // exactly fits
    desktop.fileChoices.push_back({"/mailroom", names});
    click("cmdAdd");
    EXPECT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(count(), "9 files");
}

TEST_F(MainWindow, ClearAsksOnlyWhenThereIsSomethingAndActsOnYes) {
    click("cmdClear1");
    EXPECT_TRUE(desktop.boxes.empty());

    desktop.fileChoices.push_back({"/m", {"a.mbx", "b.mbx"}});
    click("cmdAdd");
    desktop.answers.push_back(Answer::No);
    click("cmdClear1");
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].caption, "Mbxvane");
    EXPECT_EQ(desktop.boxes[0].text, "Do you want to clear all the files in the list\r\n Proceed?");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::Question);
    EXPECT_EQ(desktop.boxes[0].buttons, Buttons::YesNo);
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_EQ(window->grdFiles1->currentRow(), 0); // was on the last row added

    desktop.answers.push_back(Answer::Yes);
    click("cmdClear1");
    EXPECT_EQ(rows(), std::vector<std::string>{""});
    EXPECT_EQ(count(), "0 files");
    EXPECT_TRUE(window->CmdConvert->isEnabled()); // clearing leaves Convert as it was

    desktop.fileChoices.push_back({"/m", {"c.mbx"}});
    click("cmdAdd");
    EXPECT_EQ(rows(), std::vector<std::string>{row("/m", "c.mbx")});
    EXPECT_EQ(count(), "1 files");
}

TEST_F(MainWindow, FolderScanAddsMailboxesBreadthFirstAndReportsTheCount) {
    const fs::path root = fs::path(MBX_SCRATCH_DIR) / "scan";
    fs::remove_all(root);
    for (const char* f : {"Top.MBX", "notes.mbx.txt", "mbox", "In.toc", "Inbox.mbx ",
                          "Lists/Sent.Mbox", "Lists/Deep/Old.mbx", "Archive/2001.mbx"}) {
        fs::create_directories((root / f).parent_path());
        std::ofstream(root / f) << "x";
    }
    desktop.folderChoices.push_back(root.string());
    click("CmdAddFolder");
    ASSERT_EQ(desktop.folderTitles, std::vector<std::string>{"Choose Source Folder..."});
#ifdef _WIN32
    const std::string inbox = "Inbox.mbx"; // Windows drops a name's trailing spaces
#else
    const std::string inbox = "Inbox.mbx ";
#endif
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          row(root, inbox), row(root, "Top.MBX"), row(root, "Archive/2001.mbx"),
                          row(root, "Lists/Sent.Mbox"), row(root, "Lists/Deep/Old.mbx")}));
    EXPECT_EQ(count(), "5 files");
    EXPECT_TRUE(window->CmdConvert->isEnabled());
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].caption, "Mbxvane");
    EXPECT_EQ(desktop.boxes[0].text, "5 Files Added to List.");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::None);
    EXPECT_EQ(desktop.boxes[0].buttons, Buttons::Ok);
    EXPECT_EQ(desktop.busyChanges, (std::vector<bool>{true, false}));

    // Scanning again lists everything twice; a folder without mailboxes disables Convert.
    desktop.folderChoices.push_back(root.string() + "/");
    click("CmdAddFolder");
    EXPECT_EQ(count(), "10 files");
    desktop.folderChoices.push_back((root / "Lists" / "Deep").string() + "-missing");
    click("CmdAddFolder");
    EXPECT_EQ(desktop.boxes.back().text, "0 Files Added to List.");
    EXPECT_FALSE(window->CmdConvert->isEnabled());
    EXPECT_EQ(count(), "10 files");
    EXPECT_EQ(desktop.busyDepth, 0);

    // Cancel: nothing at all.
    const auto boxes = desktop.boxes.size();
    click("CmdAddFolder");
    EXPECT_EQ(desktop.boxes.size(), boxes);
    EXPECT_EQ(desktop.busyChanges.size(), 6u);
}

TEST_F(MainWindow, HelpOpensTheMakersAddress) {
    click("CmdHelp");
    EXPECT_EQ(desktop.opened, std::vector<std::string>{mbx::app::kMakerWebAddress});
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(MainWindow, ExitAsksAndClosesOnlyOnYes) {
    window->show();
    desktop.answers.push_back(Answer::No);
    click("cmdEnd");
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].caption, "Mbxvane");
    EXPECT_EQ(desktop.boxes[0].text, "Are you sure you want to exit now?");
    EXPECT_EQ(desktop.boxes[0].icon, Icon::Question);
    EXPECT_EQ(desktop.boxes[0].buttons, Buttons::YesNo);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->closing());

    desktop.answers.push_back(Answer::Yes);
    click("cmdEnd");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->closing());
    EXPECT_FALSE(window->yieldToEvents(true)); // long work stops
}

TEST_F(MainWindow, ACloseRequestEndsWithoutAQuestion) {
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(window->closing());
}

namespace {

int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

// The text colour drawn inside `area` of a widget: the pixel farthest from the area's background.
// The background is the most frequent colour band (eight levels a channel), as a button's face
// may be a gradient of many nearly equal colours.
QColor inkIn(QWidget* w, const QRect& area) {
    const QImage image = w->grab(area).toImage();
    std::map<QRgb, int> counts;
    std::map<int, int> bands;
    const auto band = [](QColor c) {
        return (c.red() >> 5) << 6 | (c.green() >> 5) << 3 | c.blue() >> 5;
    };
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
            ++bands[band(QColor(image.pixel(x, y)))];
        }
    }
    const auto mostFrequent = [](const auto& m) {
        return std::max_element(m.begin(), m.end(),
                                [](const auto& a, const auto& b) { return a.second < b.second; })
            ->first;
    };
    const int backgroundBand = mostFrequent(bands);
    const QColor background((backgroundBand >> 6 << 5) + 16, (backgroundBand >> 3 & 7) * 32 + 16,
                            (backgroundBand & 7) * 32 + 16);
    QColor ink = background;
    for (const auto& entry : counts) {
        if (distance(QColor(entry.first), background) > distance(ink, background)) {
            ink = QColor(entry.first);
        }
    }
    return ink;
}

} // namespace

TEST(MainWindowOnADarkTheme, TextKeepsTheColoursOfTheLightBackgrounds) {
    const QPalette before = QApplication::palette();
    QPalette dark;
    const QColor light(239, 240, 241);
    for (auto role : {QPalette::Window, QPalette::Button, QPalette::Base}) {
        dark.setColor(role, QColor(42, 46, 50));
    }
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text,
                      QPalette::HighlightedText, QPalette::BrightText}) {
        dark.setColor(role, light);
    }
    QApplication::setPalette(dark);
    {
        FakeDesktop desktop;
        frmStep1 window(desktop);
        desktop.fileChoices.push_back({"/m", {"a.mbx", "b.mbx"}});
        window.cmdAdd_Click();
        window.LblHappening->setText(QStringLiteral("Inbox"));

        QStyleOptionButton radio;
        radio.initFrom(window.OptEML);
        radio.text = window.OptEML->text();
        QStyleOptionButton push;
        push.initFrom(window.cmdAdd);
        push.text = window.cmdAdd->text();
        QStyleOptionGroupBox group;
        group.initFrom(window.Frame1);
        group.text = window.Frame1->title();
        group.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        QStyle* style = window.style();
        const struct {
            const char* what;
            QWidget* widget;
            QRect area;
            QColor expected;
        } samples[] = {
            {"Label4", window.Label4, window.Label4->rect(), Qt::black},
            {"lblCount1", window.lblCount1, window.lblCount1->rect(), Qt::black},
            {"LblHappening", window.LblHappening, window.LblHappening->rect(), QColor(0, 0, 255)},
            {"Label1", window.Label1, window.Label1->rect(), QColor(0, 64, 64)},
            {"OptEML", window.OptEML,
             style->subElementRect(QStyle::SE_RadioButtonContents, &radio, window.OptEML),
             Qt::black},
            {"Frame1", window.Frame1,
             style->subControlRect(QStyle::CC_GroupBox, &group, QStyle::SC_GroupBoxLabel,
                                   window.Frame1),
             Qt::black},
            {"cmdAdd", window.cmdAdd,
             style->subElementRect(QStyle::SE_PushButtonContents, &push, window.cmdAdd), Qt::black},
            {"CmdHelp", window.CmdHelp,
             style->subElementRect(QStyle::SE_PushButtonContents, &push, window.CmdHelp),
             Qt::black},
            {"grdFiles1 row", window.grdFiles1->viewport(),
             window.grdFiles1->visualItemRect(window.grdFiles1->item(0, 0)), Qt::black},
            {"grdFiles1 current row", window.grdFiles1->viewport(),
             window.grdFiles1->visualItemRect(window.grdFiles1->item(1, 0)), Qt::white},
        };
        for (const auto& s : samples) {
            const QColor ink = inkIn(s.widget, s.area);
            EXPECT_LT(distance(ink, s.expected), 120) << s.what << " " << ink.name().toStdString();
        }
    }
    QApplication::setPalette(before);
}
