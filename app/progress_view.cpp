#include "app/progress_view.h"

namespace mbx::app {

void ProgressView::mailboxStarted(const convert::MailboxStarted& event) {
    showRow(static_cast<int>(event.index));
    showStatus(StatusLine::MailboxNumber, "Mailbox " + std::to_string(event.index + 1) + " (of " +
                                              std::to_string(event.count) + ") ");
    fileName_ = event.fileName;
}

void ProgressView::searchStarted() {
    showStatus(StatusLine::MailboxFile, fileName_);
    showStatus(StatusLine::Activity, "Setting Mail Search Filter...");
    showStatus(StatusLine::MessagesFound, "");
    showStatus(StatusLine::MessagesSaved, "");
    showSearchStarted();
}

void ProgressView::searchProgress(const convert::SearchProgress& event) {
    showSearchPercent(event.percent);
    showStatus(StatusLine::Activity,
               "Searching for messages... Messages Found : " + std::to_string(event.found));
}

void ProgressView::messagesFound(const convert::MessagesFound& event) {
    showStatus(StatusLine::MessagesFound, std::to_string(event.count) + " Messages");
    showStatus(StatusLine::Activity, "Saving email messages...");
}

void ProgressView::bytesRead(const convert::BytesRead& event) {
    showBytes(event.soFar, event.total);
}

void ProgressView::messageDone(const convert::MessageDone& event) {
    showStatus(StatusLine::MessagesSaved,
               "Saved " + std::to_string(event.writtenSoFar) + " Message(s)");
}

void ProgressView::mailboxFinished(const convert::MailboxFinished& event) {
    const double percent =
        static_cast<double>(event.index + 1) / static_cast<double>(event.count) * 100.0;
    showListPercent(static_cast<float>(percent));
}

} // namespace mbx::app
