// The conversion engine: a list of mailboxes in, message files or Outlook files out, with
// progress, cancellation and an exact account of what was written. No window is needed:
//
//   auto target = convert::makeStoreTarget(format);  // convert/store_target.h: one per format
//   convert::Engine engine(observer, target.get(), options);  // observer: a ProgressObserver
//   convert::RunResult r = engine.run(request, outputRoot);  // outputRoot ends in a separator
//   const std::string report = convert::leaveReport(r, {outputRoot}); // "" when nothing failed
//
// Data flows one way: mailbox -> separator offsets (scanner::findSeparators) -> message bytes
// -> target (a message file, or MIME import -> data file / message file); failures flow back
// into the result, each with mailbox, message number, byte offset and reason. The run goes on
// with the next message where that is sound and stops when the output device is full. A partly
// written file is removed, never left looking complete, also when the run is cancelled.
//
// Everything is reported to the ProgressObserver on the calling thread, in mailbox order. The
// .pst and .msg targets parse messages on worker threads (RunOptions::workers) while the calling
// thread writes them in mailbox order; `ProgressObserver::yield()` is called at most every
// RunOptions::yieldInterval and once at the end of every mailbox, and cancellation (yield()
// returning false, or RunOptions::cancel set from any thread) is checked after every message.
#pragma once

#include "convert/message_file.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mbx::convert {

enum class Format { None, Eml, Emlx, Pst, Msg };

// Where a mailbox's messages go in a data file that holds a whole folder tree: the names of the
// folders above its own, outermost first, and the name of its own folder. A run without a tree
// places every mailbox at the top under its mailbox name.
struct MailboxPlace {
    std::vector<std::string> folders;
    std::string name;
};

// What a run works on: mailbox paths (an empty text is a row without a mailbox), the target,
// and the folders the user named for the mailboxes' detached attachments, searched in order
// (none: the target looks for them beside each mailbox). Passed on to the target per mailbox.
// `places`, when given, says per row where a target that keeps the folder tree puts the
// mailbox (a row without one, or with an empty name, goes to the top under its mailbox name).
struct RunRequest {
    std::vector<std::string> rows;
    Format format = Format::None;
    std::vector<std::string> attachmentFolders;
    std::vector<MailboxPlace> places = {};
};

// Why a mailbox yields no messages before anything is searched.
enum class MailboxProblem {
    NoName,     // an empty row
    NotFound,   // missing, or not a regular file
    TooSmall,   // shorter than 2 bytes (the size is passed along)
    CannotOpen, // exists but cannot be read
};

// The events of a run, in the order they come for each mailbox: MailboxStarted, SearchStarted,
// SearchProgress per separator found (or a MailboxProblem), MessagesFound, then per message its
// BytesRead values and a MessageDone, and MailboxFinished. Front ends turn them into their own
// texts; nothing here is worded for a reader.
struct MailboxStarted {
    std::size_t index = 0;  // from 0
    std::size_t count = 0;  // mailboxes in the run
    std::string path;       // as the row gives it, blanks trimmed ("" for an empty row)
    std::string fileName;   // the path's last component ("" for an empty row)
    std::uint64_t size = 0; // of the file when the mailbox started (0 when it cannot be read)
};
struct SearchProgress {
    int percent = 0;         // of the file searched, rounded half to even
    std::uint64_t found = 0; // separators found so far
};
struct MessagesFound {
    std::uint64_t count = 0;
};
struct BytesRead {
    std::uint64_t soFar = 0; // of the current message, multiples of kLabelChunk
    std::uint64_t total = 0; // the mailbox's size
};
struct MessageDone {
    std::uint64_t index = 0;        // k
    bool written = false;           // false: it failed (the failure is in the run's result)
    std::uint64_t writtenSoFar = 0; // messages of the mailbox written so far
};
struct MailboxFinished {
    std::size_t index = 0;
    std::size_t count = 0;
    std::uint64_t found = 0;
    std::uint64_t written = 0;
};

class ProgressObserver {
public:
    virtual ~ProgressObserver() = default;
    virtual void runStarted() {}
    virtual void mailboxStarted(const MailboxStarted& /*event*/) {}
    // The mailbox is about to be searched for separators.
    virtual void searchStarted() {}
    virtual void searchProgress(const SearchProgress& /*event*/) {}
    virtual void mailboxProblem(MailboxProblem /*problem*/, std::uint64_t /*size*/) {}
    virtual void messagesFound(const MessagesFound& /*event*/) {}
    virtual void bytesRead(const BytesRead& /*event*/) {}
    virtual void messageDone(const MessageDone& /*event*/) {}
    virtual void mailboxFinished(const MailboxFinished& /*event*/) {}
    // The run is over and a new one may start (not called when it was cancelled).
    virtual void runEnded() {}
    // Lets the caller breathe (repaint, handle events). False asks the run to stop at once.
    virtual bool yield() { return true; }
};

// One thing that went wrong, where it happened.
struct Failure {
    std::string mailbox;                // the mailbox path ("" for the run as a whole)
    std::optional<std::uint64_t> index; // message number k, when it is about one message
    std::uint64_t offset = 0;           // the message's byte offset in the mailbox
    std::string reason;
};

// Something a user should know about a message that was written nonetheless (an attachment
// that could not be found, attachments left out ...).
using Note = Failure;

struct MailboxResult {
    std::string path;
    std::uint64_t found = 0;   // messages found in it
    std::uint64_t written = 0; // messages written in full
    std::string summary;       // what the target drew on beyond the messages, for the report
    std::string place;         // its folder in a tree's data file ("Work/Budget"); "" none given
    // Of the messages written, those read back from their file as they were imported.
    std::uint64_t verified = 0;
};

struct RunResult {
    enum class Outcome {
        Completed,  // every row was visited
        DeviceFull, // the output device is full: the run ended there
        Cancelled,  // yield() said stop or the cancel flag was set
    };
    Outcome outcome = Outcome::Completed;
    Format format = Format::None;
    std::string outputRoot;
    // The run's one data file, when all its messages went into one (the report names it
    // instead of the output folder).
    std::string dataFile;
    std::vector<MailboxResult> mailboxes;
    std::vector<Failure> failures;
    std::vector<Note> notes;
    // Whether written files were read back (RunOptions::verify and a target that can).
    bool verification = false;

    std::uint64_t found() const;
    std::uint64_t written() const;
    std::uint64_t verified() const;
};

class StoreTarget; // targets.h
class FaultHooks;  // faults.h

struct RunOptions {
    // Least time between two ProgressObserver::yield() calls inside a mailbox.
    std::chrono::milliseconds yieldInterval{30};
    // Read unit of the separator search and of the message copy.
    std::size_t scanBlockSize = 256 * 1024;
    std::size_t copyBlockSize = MailboxFile::kDefaultBlockSize;
    // Threads that parse messages for the .pst and .msg targets; 0 parses on the calling thread.
    // By default one per core: parsing is most of the work, and the thread that writes the data
    // file needs a fraction of a core.
    int workers = -1;
    // Set from any thread to stop the run after the current message.
    const std::atomic<bool>* cancel = nullptr;
    // Test seam: injected write, import and close failures.
    FaultHooks* faults = nullptr;
    // Read every file written back and compare it with what was imported (targets.h,
    // Verification): a message that reads back otherwise is a failure.
    bool verify = true;
};

inline constexpr const char* kSeparatorText = "From ???@???";

// Mailbox name: the file name trimmed, every ".mbox" deleted, trimmed again, every ".MBOX"
// deleted (exact case: Inbox.Mbox and Inbox.mbx stay as they are).
std::string mailboxNameOf(const std::string& mailboxFileName);
// Mailbox folder: output root (ending in a separator) + the mailbox path less its root part: the
// leading "/" on POSIX, the first three characters (e.g. "C:\") on Windows. No final separator.
std::string mailboxFolderOf(const std::string& outputRoot, const std::string& mailboxPath);

class Engine {
public:
    // `target` writes the run's format (convert/targets.h); without one, the message-file
    // formats (.eml, .emlx) are written all the same and the others fail at once.
    Engine(ProgressObserver& observer, StoreTarget* target = nullptr, RunOptions options = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Converts every row into `outputRoot` (an existing folder, ending in a separator).
    RunResult run(const RunRequest& request, const std::string& outputRoot);

    class Impl;

private:
    ProgressObserver& observer_;
    StoreTarget* target_;
    RunOptions options_;
};

// The plain-text report of a run: its counts, then every failure and every note, one a line.
// Returns false when the file could not be written in full (nothing is left behind then).
bool writeReport(const std::string& path, const RunResult& result);
// A report path in `folder` that is not taken yet: "Mbxvane report.txt", "Mbxvane report
// (2).txt"...
std::string freeReportPath(const std::string& folder);
// The report of a run in which anything failed or was noted, at a free path in the first of
// `folders` that takes it (the window: the output folder, then the system's temporary folder;
// the command line promises to write nothing outside its output folder). Returns where it went:
// "" when nothing needed reporting or no folder could take it.
std::string leaveReport(const RunResult& result, const std::vector<std::string>& folders);

} // namespace mbx::convert
