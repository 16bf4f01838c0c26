// The main window: the mailbox list with its buttons, the format choice, the progress area and
// the Convert, Help and Exit buttons. Every control carries its name as its Qt object name.
#pragma once

#include "desktop/desktop.h"
#include "desktop/twips.h"

#include <QElapsedTimer>
#include <QWidget>
#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace mbx::selection {
class MailboxList;
}

namespace mbx::app {

class frmStep1 : public QWidget {
    Q_OBJECT
public:
    explicit frmStep1(desktop::Desktop& desktop, QWidget* parent = nullptr);
    ~frmStep1() override;

    selection::MailboxList& mailboxList() { return *list_; }
    desktop::Desktop& desktop() { return desktop_; }

    // Lets pending window events run, at most every ~30 ms; returns false once the program is
    // ending (a close request was accepted), so long work can stop at once.
    bool yieldToEvents(bool force = false);
    bool closing() const { return closing_; }

public slots:
    void cmdAdd_Click();
    void CmdAddFolder_Click();
    void cmdClear1_Click();
    void CmdConvert_Click();
    void CmdHelp_Click();
    void cmdEnd_Click();

signals:
    // Emitted when Convert is pressed; the conversion controller runs the conversion.
    void convertRequested();
    // Emitted when the window is being closed, before the program ends: a run stops and is
    // waited for.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void setTabOrder();

    desktop::Desktop& desktop_;
    std::unique_ptr<selection::MailboxList> list_;
    QElapsedTimer sinceYield_;
    bool closing_ = false;
    bool centred_ = false;

public:
    // Controls, by their names.
    QLabel* Image2 = nullptr;
    QWidget* Line1 = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* CmdAddFolder = nullptr;
    QPushButton* cmdClear1 = nullptr;
    QLabel* lblCount1 = nullptr;
    QTableWidget* grdFiles1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QWidget* Picture1 = nullptr;
    QRadioButton* OptEML = nullptr;
    QRadioButton* OptEMLX = nullptr;
    QRadioButton* OptPST = nullptr;
    QRadioButton* OptMSG = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* LblHappening = nullptr;
    QLabel* LblProgessCurrent = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* LblIMMFile = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* LblEmlsFound = nullptr;
    QLabel* LblByteUpdate = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* LblProgress = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* CmdConvert = nullptr;
    QWidget* Shape1 = nullptr;
    QWidget* Picture3 = nullptr;
    QPushButton* CmdHelp = nullptr;
    QPushButton* cmdEnd = nullptr;
};

} // namespace mbx::app
