// The seam between the engine and the output formats: one StoreTarget per format (.eml/.emlx,
// .pst, .msg). Message-file targets take each message as a stream; the others parse it on a
// worker thread (prepare) and store it on the engine's thread, in mailbox order (commit).
#pragma once

#include "convert/engine.h"
#include "convert/message_file.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace mbx::convert {

class FaultHooks;

// A target failure and how much it takes with it.
class TargetError : public std::runtime_error {
public:
    enum class Scope {
        Message, // this message only
        Store,   // the open data file is lost (and has been removed)
        Device,  // the output device is full: nothing more can be written
    };
    TargetError(Scope scope, const std::string& what, std::error_code code = {})
        : std::runtime_error(what), scope_(scope), code_(code) {}
    Scope scope() const { return scope_; }
    // The system's error behind the failure, when there is one.
    const std::error_code& code() const noexcept { return code_; }

private:
    Scope scope_;
    std::error_code code_;
};

// True for the errors of a full device (no space, quota exceeded).
bool isDeviceFull(const std::error_code& error);

// The mailbox whose messages come next, as the run knows it: handed to the target once per
// mailbox, before the first of its messages.
struct MailboxContext {
    std::string path;   // the mailbox file
    std::string folder; // its output folder (no final separator)
    // Folders the user named for detached attachments, searched in order; empty: the target
    // looks for them beside the mailbox.
    std::vector<std::string> attachmentFolders;
    // Where the separator search found its messages, in increasing order, and the mailbox's
    // size as it searched it: what a table of contents beside the mailbox is checked against.
    std::span<const std::uint64_t> starts;
    std::uint64_t size = 0;
};

// What a target makes of a mailbox before its messages are prepared (the import's folders, say):
// read-only once made, shared by every job of the mailbox, so worker threads need no lock.
struct MailboxPlan {
    virtual ~MailboxPlan() = default;
    // For the report: what the plan drew on beyond the messages ("" nothing worth a word), and
    // remarks on the mailbox as a whole.
    std::string summary;
    std::vector<std::string> notes;
};

struct MessageJob {
    std::string mailboxFolder;
    std::string mailbox;      // the mailbox file
    std::uint64_t index = 0;  // k
    std::uint64_t offset = 0; // of the message in its mailbox
    std::string bytes;        // the message, blanks trimmed, ending in CR LF
    // The target's plan for the message's mailbox (null when it made none). Whatever else is
    // known about one message before it is parsed belongs on the job, beside it.
    std::shared_ptr<const MailboxPlan> plan;
};

// A message parsed (and, for .msg, already written as its message file).
struct PreparedMessage {
    virtual ~PreparedMessage() = default;
    std::vector<std::string> notes; // non-fatal remarks for the report
};

// What reading written files back found, since the target was last asked: messages that read
// back as they were imported, by mailbox path, and every message (or file) that did not. An
// empty mailbox path stands for the mailbox whose messages are being written or whose data file
// was just completed.
struct Verification {
    std::map<std::string, std::uint64_t> verified;
    std::vector<Failure> mismatches;
    bool empty() const { return verified.empty() && mismatches.empty(); }
};

// One output format. A target owns its file rules: which data file opens when, whether a mailbox
// needs its output folder, when a message counts as written and what is removed when a file
// fails. The engine calls, per run:
//
//   beginRun; per mailbox: [beginMailbox, planMailbox, per message writeMessage or
//   prepare + commit, endMailbox]; endRun (also after a cancelled or stopped run)
//
// and records every TargetError with the mailbox it belongs to.
class StoreTarget {
public:
    virtual ~StoreTarget() = default;

    // How messages reach the target: streamed into a file of their own on the engine's thread,
    // or parsed on worker threads (prepare) and stored in mailbox order (commit).
    enum class Flow { Stream, Prepare };
    virtual Flow flow() const = 0;
    // Whether a mailbox's messages go into its output folder, so that a folder that cannot be
    // created loses them all.
    virtual bool needsMailboxFolder() const { return true; }
    // Whether the run creates each mailbox's output folder at all; a target writing one data
    // file for the whole run has no use for them.
    virtual bool makesMailboxFolder() const { return true; }

    // Whether written files are read back and compared with what was imported (before beginRun;
    // `faults` may break them in between). Returns whether this target reads anything back.
    virtual bool setVerification(bool /*on*/, FaultHooks* /*faults*/) { return false; }
    // What the read-backs since the last call found; the engine asks after every message it
    // hands over and after every data file completed.
    virtual Verification takeVerification() { return {}; }

    // Once before the first mailbox. Throws TargetError; the run goes on without what it opens.
    virtual void beginRun(const std::string& /*outputRoot*/) {}
    // A readable mailbox whose messages come next (not for a mailbox that could not be opened).
    // Throws TargetError when what its messages go into cannot be made; acceptsMessages() then
    // tells whether they can be written all the same; when it returns and acceptsMessages() is
    // false, the data file they would go into was lost earlier in the run.
    virtual void beginMailbox(const std::string& /*outputRoot*/, const MailboxPlace& /*place*/) {}
    // False when messages handed over now would not be written (their data file is lost).
    virtual bool acceptsMessages() const { return true; }
    // The plan for a mailbox's messages, made before the first of them is prepared; every job of
    // the mailbox carries it. Null: nothing to plan.
    virtual std::shared_ptr<const MailboxPlan>
    planMailbox(const MailboxContext& /*mailbox*/) const {
        return nullptr;
    }

    // Flow::Stream: message k into its own file in the mailbox folder; a file that could not be
    // written in full is removed.
    virtual WriteResult writeMessage(const std::string& /*mailboxFolder*/, std::size_t /*k*/,
                                     MessageText& /*text*/, FaultHooks* /*faults*/) {
        return {WriteResult::Status::Failed, 0, "this target takes no message files"};
    }
    // Flow::Prepare, thread-safe. Throws TargetError (or any exception: a Message failure).
    virtual std::unique_ptr<PreparedMessage> prepare(const MessageJob& /*job*/) const {
        throw TargetError(TargetError::Scope::Message, "this target prepares no messages");
    }
    // Flow::Prepare: stores a prepared message; true when it now counts as written. Throws
    // TargetError; after a Store or Device failure (its data file given up) the message counts
    // when the target still acceptsMessages().
    virtual bool commit(PreparedMessage& /*message*/) { return false; }
    // Flow::Prepare, when the run stops: a prepared message that will not be committed; true when
    // it counts as written all the same (its own file is complete).
    virtual bool abandon(PreparedMessage& /*message*/) { return false; }

    // Every message of the mailbox has been handed over. Throws TargetError when a data file
    // completed here cannot be completed.
    virtual void endMailbox(FaultHooks* /*faults*/) {}
    // The run is over or stopped: completes whatever data file is still open (with the messages
    // stored so far). Throws TargetError.
    virtual void endRun(FaultHooks* /*faults*/) {}

    // What giving up the open data file after a failure of it took with it.
    struct Discarded {
        std::string path;        // the data file ("" when none was open)
        std::error_code removal; // the error of a removal that failed: an incomplete file is left
        // Messages that counted as written and were lost with it; none when the messages of
        // this target do not live in the data file.
        std::optional<std::uint64_t> messagesLost;
        // The data file held every message of the run counted as written so far, of every
        // mailbox: messagesLost counts them all.
        bool wholeRun = false;
    };
    // Gives up the open data file and removes it (after a Store failure).
    virtual Discarded discardStore() { return {}; }
};

// The message-file targets (.eml, .emlx) for a format; null for the others.
std::unique_ptr<StoreTarget> makeMessageFileTarget(Format format);

} // namespace mbx::convert
