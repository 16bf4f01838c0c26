// The run behind the Convert button: format check, output folder dialog, the engine over the
// list, and the closing box (the completion text, or a warning with the counts and the report's
// path when anything failed). Unusable mailboxes are told in the File Reader's own boxes.
#pragma once

#include "convert/engine.h"
#include "desktop/desktop.h"

#include <memory>
#include <string>

namespace mbx::convert {

enum class RunOutcome {
    NoFormat,        // the "Please select a option to convert file(s)." box
    FolderCancelled, // the folder dialog gave nothing; nothing changed
    Completed,       // every row done, completion box shown
    Failed,          // something was not written: warning box shown, report written
    SessionError,    // the "Outlook Error" box shown
    Ending,          // the observer's yield() returned false
};

// The texts the run shows.
inline constexpr const char* kNoFormatText = "Please select a option to convert file(s).";
inline constexpr const char* kChooseFolderTitle = "Choose Folder to Save...";
inline constexpr const char* kSessionErrorCaption = "Outlook Error";
// "Outlook Session Creation Error !" and the five lines after it, CR LF between, none at the end.
std::string sessionErrorText();
// The completion box text for a format.
std::string completionText(Format format);
// The warning box text for a run in which something failed; `reportPath` empty when the report
// could not be written anywhere.
std::string failureText(const RunResult& result, const std::string& reportPath);

class ConversionRun {
public:
    // `store` may be null: the .pst and .msg targets then end with the session error.
    ConversionRun(desktop::Desktop& desktop, ProgressObserver& observer,
                  StoreTarget* store = nullptr, RunOptions options = {});

    RunOutcome run(const RunRequest& request);
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
