// The seam between the engine and the targets that take whole messages (.pst and .msg): the
// engine hands each message's bytes to prepare() on a worker thread and the result to commit()
// on its own thread, in mailbox order.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace mbx::convert {

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

class StoreTarget {
public:
    virtual ~StoreTarget() = default;
    // .msg: the run's data file, once before the first mailbox. Throws when it cannot be created.
    virtual void openRunStore(const std::string& outputRoot) = 0;
    // .pst: a data file for the mailbox, at its start. Throws when it cannot be created.
    virtual void openMailboxStore(const std::string& outputRoot,
                                  const std::string& mailboxName) = 0;
    // The mailbox's folder in the open data file; later messages go into it.
    virtual void addMailboxFolder(const std::string& mailboxName) = 0;
    // The plan for a mailbox's messages, made before the first of them is prepared; every job of
    // the mailbox carries it. Null: nothing to plan.
    virtual std::shared_ptr<const MailboxPlan>
    planMailbox(const MailboxContext& /*mailbox*/) const {
        return nullptr;
    }
    // Thread-safe. Throws TargetError (or any exception: a Message failure).
    virtual std::unique_ptr<PreparedMessage> prepare(const MessageJob& job) const = 0;
    // Stores a prepared message in the open data file. Throws TargetError.
    virtual void commit(PreparedMessage& message) = 0;
    // Completes the open data file. Throws TargetError when it cannot be completed.
    virtual void closeStore() = 0;
    // Gives up the open data file and removes it (after a Store failure); the error of a
    // removal that failed, which leaves an incomplete file behind.
    virtual std::error_code discardStore() = 0;
    // The open data file, for messages.
    virtual std::string storePath() const = 0;
};

} // namespace mbx::convert
