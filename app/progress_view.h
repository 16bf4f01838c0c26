// What the window shows of a run: the engine's events turned into the texts of its status
// labels, the values of its two bars, the selected row and the bytes line. Qt-free, so the
// engine's tests check the window's exact texts without a window.
#pragma once

#include "convert/engine.h"

#include <cstdint>
#include <string>

namespace mbx::app {

// The status labels, each shown in a label of its own.
enum class StatusLine {
    Activity,      // "Setting Mail Search Filter...", "Searching for messages...", "Saving..."
    MailboxNumber, // "Mailbox 1 (of 3) "
    MailboxFile,   // the mailbox's file name
    MessagesFound, // "12 Messages"
    MessagesSaved, // "Saved 3 Message(s)"
};

class ProgressView : public convert::ProgressObserver {
public:
    // What a window shows; called in the order the labels and bars change.
    virtual void showRow(int row) = 0;
    virtual void showStatus(StatusLine line, const std::string& text) = 0;
    // The separator search starts: its bar is reset to the range 0..100.
    virtual void showSearchStarted() = 0;
    virtual void showSearchPercent(int percent) = 0;
    // "Saving: <soFar> Bytes out of <total> Total Bytes."
    virtual void showBytes(std::uint64_t soFar, std::uint64_t total) = 0;
    // The share of the mailbox list done (33.33333 after one of three).
    virtual void showListPercent(float percent) = 0;

    // convert::ProgressObserver
    void mailboxStarted(const convert::MailboxStarted& event) override;
    void searchStarted() override;
    void searchProgress(const convert::SearchProgress& event) override;
    void messagesFound(const convert::MessagesFound& event) override;
    void bytesRead(const convert::BytesRead& event) override;
    void messageDone(const convert::MessageDone& event) override;
    void mailboxFinished(const convert::MailboxFinished& event) override;

private:
    std::string fileName_; // of the mailbox being converted
};

} // namespace mbx::app
