// FrmFinder: the reader as a small interactive "File Reader" window. Type a file name and a
// search text, press Find to see the first occurrence with the bytes that follow it, press the
// second button for the next one.
#pragma once

#include "desktop/desktop.h"
#include "reader/mailbox_reader.h"
#include "reader/search_state.h"

#include <QElapsedTimer>
#include <QWidget>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace mbx::reader {

class TextSurface;

class FrmFinder : public QWidget, private ReaderSink {
    Q_OBJECT
public:
    explicit FrmFinder(desktop::Desktop& desktop, QWidget* parent = nullptr);
    ~FrmFinder() override;

    MailboxReader& reader() { return *reader_; }
    SearchState& state() { return state_; }
    // Everything written on the text surface since it was last cleared.
    QString surfaceText() const;

public slots:
    void Command3_Click(); // Find
    void Command4_Click(); // next occurrence

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // ReaderSink
    void beep() override;
    void warning(const std::string& text, desktop::Icon icon, const std::string& title) override;
    void clearSurface() override;
    void writeSurface(std::string_view text) override;
    void setProgressBar2(int value) override;
    void setLblHappening(const std::string& text) override;
    void setText1(const std::string& text) override;
    void focusText1() override;
    bool yield() override;

    void syncInputs();

    desktop::Desktop& desktop_;
    SearchState state_;
    std::unique_ptr<MailboxReader> reader_;
    QElapsedTimer sinceYield_;

public:
    // Controls, by their names.
    QWidget* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command4 = nullptr;
    QWidget* Frame2 = nullptr;
    QLabel* Label3 = nullptr;
    TextSurface* surface = nullptr;
};

} // namespace mbx::reader
