#include "convert/conversion_run.h"

#include "selection/paths.h"

#include <filesystem>

namespace mbx::convert {

namespace {

const std::string kStars(75, '*');

// Passes every event on and shows the File Reader's boxes for a mailbox that cannot be searched.
class ProblemBoxes : public ProgressObserver {
public:
    ProblemBoxes(desktop::Desktop& desktop, ProgressObserver& next)
        : desktop_(desktop), next_(next) {}

    void runStarted() override { next_.runStarted(); }
    void mailboxStarted(const MailboxStarted& e) override { next_.mailboxStarted(e); }
    void searchStarted() override { next_.searchStarted(); }
    void searchProgress(const SearchProgress& e) override { next_.searchProgress(e); }
    void messagesFound(const MessagesFound& e) override { next_.messagesFound(e); }
    void bytesRead(const BytesRead& e) override { next_.bytesRead(e); }
    void messageDone(const MessageDone& e) override { next_.messageDone(e); }
    void mailboxFinished(const MailboxFinished& e) override { next_.mailboxFinished(e); }
    void runEnded() override { next_.runEnded(); }
    bool yield() override { return next_.yield(); }

    void mailboxProblem(MailboxProblem problem, std::uint64_t size) override {
        showMailboxProblem(desktop_, problem, size);
        next_.mailboxProblem(problem, size);
    }

private:
    desktop::Desktop& desktop_;
    ProgressObserver& next_;
};

std::string plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

void showMailboxProblem(desktop::Desktop& desktop, MailboxProblem problem, std::uint64_t size) {
    // The open step and the Find step of the File Reader each report what they run into.
    const auto box = [&desktop](const std::string& text, desktop::Icon icon) {
        desktop.beep();
        desktop.messageBox("File Reader", text, icon, desktop::Buttons::Ok);
    };
    const std::string tooSmall = "File size is " + std::to_string(size) +
                                 " byte !\r\rFile can not open for string searching !";
    switch (problem) {
    case MailboxProblem::NoName:
        box("Enter name of the file to be searched...", desktop::Icon::None);
        break;
    case MailboxProblem::NotFound:
        box("File not found !", desktop::Icon::Exclamation);
        break;
    case MailboxProblem::TooSmall:
        box(tooSmall, desktop::Icon::Exclamation);
        box(tooSmall, desktop::Icon::Exclamation);
        box("File could not open !", desktop::Icon::Exclamation);
        break;
    case MailboxProblem::CannotOpen:
        box("File could not open !", desktop::Icon::Exclamation);
        break;
    }
}

std::string completionText(Format format) {
    if (format == Format::Pst) {
        return "Your messages from Eudora Mailboxes has been successfully exported to Outlook "
               "(.pst) file.\r\n" +
               kStars +
               "\r\nStart Outlook and open converted pst file by clicking File -> Open -> "
               "Outlook Data File. And it all done !";
    }
    return "Your messages from Eudora Mailboxes has been successfully exported.\r\n" + kStars +
           "\r\n";
}

std::string failureText(const RunResult& result, const std::string& reportPath) {
    std::string text = "Not every message could be converted.\r\n\r\n";
    const auto counts =
        std::to_string(result.written()) + " of " + plural(result.found(), "message", "messages");
    switch (result.format) {
    case Format::Pst:
        text += counts + " written to Outlook data files (.pst).";
        break;
    case Format::Msg:
        text += counts + " written as Outlook message files (.msg).";
        break;
    case Format::Emlx:
        text += counts + " written as .emlx files.";
        break;
    default:
        text += counts + " written as .eml files.";
        break;
    }
    if (result.outcome == RunResult::Outcome::DeviceFull) {
        text += "\r\nThe output device is full: the run stopped there.";
    }
    text += "\r\n" + plural(result.failures.size(), "problem", "problems");
    if (reportPath.empty()) {
        text += "; the report could not be written. The first: " +
                (result.failures.empty() ? std::string() : result.failures.front().reason);
    } else {
        text += (result.failures.size() == 1 ? " is" : " are") +
                std::string(" listed in the report:\r\n") + reportPath;
    }
    return text;
}

ConversionRun::ConversionRun(desktop::Desktop& desktop, ProgressObserver& observer,
                             StoreTarget* store, RunOptions options)
    : desktop_(desktop), observer_(observer), store_(store), options_(options) {}

RunOutcome ConversionRun::run(const RunRequest& request) {
    // The run works on its own copy: the window may change the list or the format meanwhile.
    const RunRequest req = request;
    RunOutcome outcome{};
    const auto outputRoot = begin(req, outcome);
    if (!outputRoot) {
        return outcome;
    }
    if (!observer_.yield()) {
        return RunOutcome::Ending;
    }
    observer_.runStarted();
    ProblemBoxes boxes(desktop_, observer_);
    Engine engine(boxes, store_, options_);
    return end(engine.run(req, *outputRoot));
}

std::optional<std::string> ConversionRun::begin(const RunRequest& request, RunOutcome& outcome) {
    result_ = {};
    reportPath_.clear();
    if (request.format == Format::None) {
        desktop_.messageBox(desktop::kAppTitle, kNoFormatText, desktop::Icon::Information,
                            desktop::Buttons::Ok);
        outcome = RunOutcome::NoFormat;
        return std::nullopt;
    }
    const auto chosen = desktop_.browseForFolder(kChooseFolderTitle);
    if (chosen.empty()) {
        outcome = RunOutcome::FolderCancelled;
        return std::nullopt;
    }
    return paths::ensureTrailingSeparator(chosen);
}

RunOutcome ConversionRun::end(RunResult result) {
    result_ = std::move(result);
    RunOutcome outcome = RunOutcome::Completed;
    switch (result_.outcome) {
    case RunResult::Outcome::Cancelled:
        return RunOutcome::Ending;
    case RunResult::Outcome::Completed:
    case RunResult::Outcome::DeviceFull: {
        // The output folder first; a temporary folder when that one cannot take it.
        std::error_code ec;
        reportPath_ = leaveReport(
            result_, {result_.outputRoot, std::filesystem::temp_directory_path(ec).string()});
        if (result_.failures.empty()) {
            desktop_.messageBox(desktop::kAppTitle, completionText(result_.format),
                                desktop::Icon::Information, desktop::Buttons::Ok);
        } else {
            desktop_.messageBox(desktop::kAppTitle, failureText(result_, reportPath_),
                                desktop::Icon::Exclamation, desktop::Buttons::Ok);
            outcome = RunOutcome::Failed;
        }
        break;
    }
    }
    observer_.runEnded();
    return outcome;
}

} // namespace mbx::convert
