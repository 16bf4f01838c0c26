// Cutting a mailbox into message files. Message k is the bytes from separator offset k up to
// offset k + 1 (the last one to the end of the file); bytes before the first offset belong to no
// message. A message file holds those bytes without leading and trailing blanks (space only),
// followed by CR LF, under the name "email-" + k + extension in the mailbox folder.
//
// readMessageText gives the message as a stream and writeMessageFile drains it into the file,
// so a message is never held whole in memory. While the stream is read it reports every value
// the 250-byte chunk reading shows as bytes read: 250, 500, ... bytes so far, up to the
// message length for a message followed by another, and below it for the last message (the
// label is not updated for the final piece).
#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::convert {

// The chunk size whose multiples the bytes-read progress shows.
inline constexpr std::uint64_t kLabelChunk = 250;

class ExtractObserver {
public:
    virtual ~ExtractObserver() = default;
    // One bytes-read value: so far in the message, of the mailbox size.
    virtual void byteUpdate(std::uint64_t soFar, std::uint64_t total) = 0;
    // Between large blocks; false = stop at once (the program is ending).
    virtual bool yield() { return true; }
};

// A mailbox file opened once for all its messages. Reads go through one cached block, so
// consecutive small messages cost no extra system calls.
class MailboxFile {
public:
    static constexpr std::size_t kDefaultBlockSize = 1024 * 1024;

    explicit MailboxFile(std::size_t blockSize = kDefaultBlockSize);
    ~MailboxFile();
    MailboxFile(const MailboxFile&) = delete;
    MailboxFile& operator=(const MailboxFile&) = delete;

    // False when the file cannot be opened (or is not a regular file).
    // `searchedSize`, when given, is the size the separator search saw: the messages end there. A
    // file that has grown since is read up to it; one that has shrunk fails to read at its new
    // end, so its last message cannot pass for complete.
    bool open(const std::string& path, std::optional<std::uint64_t> searchedSize = {});
    void close();
    bool isOpen() const { return file_.isOpen(); }
    std::uint64_t size() const { return size_; }
    // errno of the failed open.
    int error() const { return file_.error(); }
    // A view of the bytes at `pos`, at most `max` long and at least 1 unless `pos` is at or
    // beyond the end or the read fails (then empty). Valid until the next call.
    std::string_view bytes(std::uint64_t pos, std::uint64_t max);

private:
    platform::File file_;
    std::uint64_t size_ = 0;
    std::vector<char> block_;
    std::uint64_t blockStart_ = 0;
    std::size_t blockLen_ = 0;
};

// Message k of an open mailbox as a stream of blocks.
class MessageText {
public:
    MessageText(MailboxFile& mailbox, std::uint64_t begin, std::uint64_t end, bool last,
                ExtractObserver* observer);

    std::uint64_t beginOffset() const { return begin_; }
    std::uint64_t endOffset() const { return end_; }
    std::uint64_t length() const { return end_ - begin_; }
    // The next block of the message (empty at the end, on a read failure or when the observer
    // asked to stop). Reports the bytes-read values passed on the way.
    std::string_view next();
    // True when the observer's yield asked to stop.
    bool stopped() const { return stopped_; }
    // True when the mailbox could not deliver all the bytes of the message.
    bool failed() const { return failed_; }

private:
    MailboxFile& mailbox_;
    std::uint64_t begin_;
    std::uint64_t end_;
    std::uint64_t pos_;
    std::uint64_t nextLabel_;
    std::uint64_t lastLabel_; // the largest value the label shows for this message
    ExtractObserver* observer_;
    bool stopped_ = false;
    bool failed_ = false;
};

// The largest bytes-so-far value shown for a message of `length` bytes (0: none): reading in
// 250-byte chunks shows the bytes so far after every chunk except the one that completes the
// message. A message followed by another completes with the chunk that reaches into the next
// separator, so a length that is an exact multiple of 250 is still shown; the last message
// completes with the chunk that reaches the end of the file.
std::uint64_t lastByteLabel(std::uint64_t length, bool last);

// The stream of message k (0-based) of `mailbox` cut at `offsets`. Offsets at or beyond the end
// of the file give an empty message.
MessageText readMessageText(MailboxFile& mailbox, std::span<const std::uint64_t> offsets,
                            std::size_t k, ExtractObserver* observer);

// The path mailboxFolder + separator + "email-" + k + extension.
std::string messageFilePath(const std::string& mailboxFolder, std::size_t k,
                            std::string_view extension);

class FaultHooks;

struct WriteResult {
    enum class Status { Written, Failed, Stopped };
    Status status = Status::Written;
    int error = 0;      // errno of a failed write (0 when the mailbox could not be read)
    std::string reason; // what failed, for the report
    // Of a written file: its size and the digest (mapi::Digest) of the bytes that went into it,
    // taken as they came from the mailbox.
    std::uint64_t size = 0;
    std::uint64_t digest = 0;
};

// Drains `text` into the file "email-" + k + extension in `mailboxFolder` (created or replaced):
// the bytes without leading and trailing spaces, then CR LF. A file that could not be written
// in full, or whose message was stopped part-way, is removed.
WriteResult writeMessageFile(const std::string& mailboxFolder, std::size_t k,
                             std::string_view extension, MessageText& text,
                             FaultHooks* faults = nullptr);

// Drains `text` into memory as the message file would hold it. False when the mailbox could not
// deliver all of the message or the observer asked to stop.
bool readTrimmedMessage(MessageText& text, std::string& out);

} // namespace mbx::convert
