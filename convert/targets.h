// The seam between the engine and the targets that take whole messages (.pst and .msg): the
// engine hands each message's bytes to prepare() on a worker thread and the result to commit()
// on its own thread, in mailbox order.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
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
    TargetError(Scope scope, const std::string& what) : std::runtime_error(what), scope_(scope) {}
    Scope scope() const { return scope_; }

private:
    Scope scope_;
};

// True for the errors of a full device (no space, quota exceeded).
bool isDeviceFull(int error);
// True when a library's error text carries the system's text of a full device.
bool mentionsDeviceFull(const std::string& text);

struct MessageJob {
    std::string mailboxFolder;
    std::uint64_t index = 0;  // k
    std::uint64_t offset = 0; // of the message in its mailbox
    std::string bytes;        // the message, blanks trimmed, ending in CR LF
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
    // The mailbox whose messages are prepared next, and the folder the user named for its
    // detached attachments (empty: look for one). Called before the first of them is prepared.
    virtual void beginMailbox(const std::string& /*mailboxPath*/,
                              const std::string& /*attachmentsFolder*/) {}
    // Thread-safe. Throws TargetError (or any exception: a Message failure).
    virtual std::unique_ptr<PreparedMessage> prepare(const MessageJob& job) const = 0;
    // Stores a prepared message in the open data file. Throws TargetError.
    virtual void commit(PreparedMessage& message) = 0;
    // Completes the open data file. Throws TargetError when it cannot be completed.
    virtual void closeStore() = 0;
    // Gives up the open data file and removes it (after a Store failure).
    virtual void discardStore() = 0;
    // The open data file, for messages.
    virtual std::string storePath() const = 0;
};

} // namespace mbx::convert
