// The run behind the Convert button: format check, output folder dialog, the engine over the
// list, and the closing box (the completion text, or a warning with the counts and the report's
// path when anything failed). Unusable mailboxes are told in the File Reader's own boxes. The
// window runs the engine on a thread of its own between begin() and end(); run() does all of it
// on the calling thread.
#pragma once

#include "convert/engine.h"
#include "desktop/desktop.h"

#include <memory>
#include <optional>
#include <string>

namespace mbx::convert {

enum class RunOutcome {
    NoFormat,        // the "Please select a option to convert file(s)." box
    FolderCancelled, // the folder dialog gave nothing; nothing changed
    Completed,       // every row done, completion box shown
    Failed,          // something was not written: warning box shown, report written
    Ending,          // the observer's yield() returned false
};

// The texts the run shows.
inline constexpr const char* kNoFormatText = "Please select a option to convert file(s).";
inline constexpr const char* kChooseFolderTitle = "Choose Folder to Save...";
// The completion box text for a format.
std::string completionText(Format format);
// The warning box text for a run in which something failed; `reportPath` empty when the report
// could not be written anywhere.
std::string failureText(const RunResult& result, const std::string& reportPath);

// The File Reader's boxes for a mailbox that cannot be searched (a beep before each).
void showMailboxProblem(desktop::Desktop& desktop, MailboxProblem problem, std::uint64_t size);

class ConversionRun {
public:
    // `store` may be null: the .pst and .msg targets then end with the session error.
    ConversionRun(desktop::Desktop& desktop, ProgressObserver& observer,
                  StoreTarget* store = nullptr, RunOptions options = {});

    // The whole run on the calling thread: begin(), the engine, end().
    RunOutcome run(const RunRequest& request);

    // The steps of run() for a caller that runs the engine on a thread of its own; begin() and
    // end() show boxes and dialogs, so they belong to the thread of the desktop.
    // begin(): the format question and the folder dialog; the output root (ending in a
    // separator), or nothing with `outcome` set when no run follows.
    std::optional<std::string> begin(const RunRequest& request, RunOutcome& outcome);
    // end(): the closing box and the report for the engine's result.
    RunOutcome end(RunResult result);
    // The engine's account of the last run (empty before the folder is chosen).
    const RunResult& result() const { return result_; }
    // Where the last run's report went ("" when none was written).
    const std::string& reportPath() const { return reportPath_; }

private:
    desktop::Desktop& desktop_;
    ProgressObserver& observer_;
    StoreTarget* store_;
    RunOptions options_;
    RunResult result_;
    std::string reportPath_;
};

} // namespace mbx::convert
