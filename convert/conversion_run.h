// The conversion run started by Convert: format check, output root, then every mailbox of the
// list scanned for separators and cut into message files (and, for .pst/.msg, handed to the
// mail-store steps), with progress in the main window's labels and bars and a completion box.
//
// The run is one call on the user-interface thread. It reports every value to the RunView as it
// happens (so tests see the exact sequence) and calls RunView::yield() at most every
// `RunOptions::yieldInterval`, plus once at the end of every mailbox, so a Qt view should only
// store the values it is given and repaint on yield().
#pragma once

#include "desktop/desktop.h"
#include "scanner/mailbox_reader.h"
#include "scanner/search_state.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mbx::convert {

enum class Format { None, Eml, Emlx, Pst, Msg };

// What the run works on, copied when it starts so that later changes to the window cannot
// derail it: the list rows (full mailbox paths, row 0 first; a cleared list is one empty row)
// and the selected format.
struct RunRequest {
    std::vector<std::string> rows;
    Format format = Format::None;
};

enum class Label { LblHappening, LblProgessCurrent, LblIMMFile, LblEmlsFound, LblProgress };
enum class Bar { ProgressBar1, ProgressBar2 };

// The main window as the run sees it.
class RunView {
public:
    virtual ~RunView() = default;
    virtual void setLabel(Label label, const std::string& text) = 0;
    // LblByteUpdate: "Saving: " + soFar + " Bytes out of " + total + " Total Bytes."
    virtual void setByteUpdate(std::uint64_t soFar, std::uint64_t total) = 0;
    virtual void setBarRange(Bar bar, int minimum, int maximum) = 0;
    // ProgressBar1 takes fractional values (33.33333 after the first of three mailboxes);
    // ProgressBar2 whole numbers 0..100.
    virtual void setBarValue(Bar bar, float value) = 0;
    // Makes the row's cell the current cell of the list.
    virtual void setCurrentRow(int row) = 0;
    virtual void setConvertEnabled(bool enabled) = 0;
    // Unselects all four format options (OptEML, OptEMLX, OptPST, OptMSG).
    virtual void clearFormats() = 0;
    // Processes pending window events. False when the program is ending: the run stops at once
    // (closing an open store first) and shows nothing more.
    virtual bool yield() = 0;
};

// The mail-store steps for the .pst and .msg targets. A false result from an Open step is a
// session failure: the run shows the "Outlook Error" box and ends.
class StoreSteps {
public:
    virtual ~StoreSteps() = default;
    // .msg target, once before the first mailbox: the run's temporary store in outputRoot.
    virtual bool OpenRunStore(const std::string& outputRoot) = 0;
    // .pst target, at the start of every mailbox: outputRoot + mailboxName + ".pst".
    virtual bool OpenMailboxStore(const std::string& outputRoot,
                                  const std::string& mailboxName) = 0;
    // .pst and .msg: a folder named after the mailbox in the open store, before its scan.
    virtual void AddMailboxFolder(const std::string& mailboxName) = 0;
    // .pst and .msg: right after message k's .eml file is written; the step deletes it.
    virtual void ImportMessage(const std::string& emlPath, const std::string& mailboxFolder,
                               std::uint64_t k) = 0;
    // .pst: at the end of every mailbox; .msg: once after the last mailbox.
    virtual void CloseStore() = 0;
};

enum class RunOutcome {
    NoFormat,        // the "Please select a option to convert file(s)." box
    FolderCancelled, // the folder dialog gave nothing; nothing changed
    Completed,       // every row done, completion box shown
    SessionError,    // the "Outlook Error" box shown
    Ending,          // RunView::yield() returned false
};

struct RunOptions {
    // Least time between two RunView::yield() calls inside a mailbox.
    std::chrono::milliseconds yieldInterval{30};
    // Read unit of the separator search and of the message copy.
    std::size_t scanBlockSize = scanner::MailboxReader::kDefaultBlockSize;
    std::size_t copyBlockSize = 1024 * 1024;
};

// The texts the run shows.
inline constexpr const char* kAppTitle = "Mbxvane";
inline constexpr const char* kSeparatorText = "From ???@???";
inline constexpr const char* kNoFormatText = "Please select a option to convert file(s).";
inline constexpr const char* kChooseFolderTitle = "Choose Folder to Save...";
inline constexpr const char* kSessionErrorCaption = "Outlook Error";
// "Outlook Session Creation Error !" and the five lines after it, CR LF between, none at the end.
std::string SessionErrorText();
// The completion box text for a format.
std::string CompletionText(Format format);

// The per-mailbox names of the run.
// Mailbox name: the file name trimmed, every ".mbox" deleted, trimmed again, every ".MBOX"
// deleted (exact case: Inbox.Mbox and Inbox.mbx stay as they are).
std::string MailboxName(const std::string& mailboxFileName);
// Mailbox folder: output root (ending in a separator) + the mailbox path less its root part: the
// leading "/" on POSIX, the first three characters (e.g. "C:\") on Windows. No final separator.
std::string MailboxFolder(const std::string& outputRoot, const std::string& mailboxPath);

class ConversionRun {
public:
    // `steps` may be null: the .pst and .msg targets then end with the session error.
    ConversionRun(desktop::Desktop& desktop, RunView& view, StoreSteps* steps = nullptr,
                  RunOptions options = {});
    ~ConversionRun();
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // Drive this reader (e.g. the FrmFinder window's) instead of the run's own one. The run
    // installs its own sink on it while it runs and puts the previous one back afterwards.
    void UseReader(scanner::MailboxReader& reader);

    // The whole run. Rows without a usable mailbox (empty, missing, a folder, shorter than 2
    // bytes) show the reader's own warnings, yield no message files and the run goes on.
    RunOutcome Run(const RunRequest& request);

    class ReaderBridge; // the run's ReaderSink (defined in the .cpp)

private:
    bool Yield(bool force = false);
    RunOutcome Stop();
    RunOutcome EndWithSessionError();

    desktop::Desktop& desktop_;
    RunView& view_;
    StoreSteps* steps_;
    RunOptions options_;
    scanner::SearchState ownState_;
    std::unique_ptr<ReaderBridge> bridge_;
    std::unique_ptr<scanner::MailboxReader> ownReader_;
    scanner::MailboxReader* reader_;
    std::chrono::steady_clock::time_point lastYield_{};
    bool ending_ = false;
    bool storeOpen_ = false;
};

} // namespace mbx::convert
