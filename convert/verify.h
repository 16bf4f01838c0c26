// Reading written files back. What the import produced is kept as a fingerprint per message
// (mapi::MessagePrint) with where it came from; once a data file is complete it is read back
// with our own PST reader (its structure check, its folders and their message counts, then each
// message) and once a message file is written it is read back with the compound-file reader.
// Every message that reads back as it was imported counts as verified; every one that does not
// is a failure naming it and what differed.
#pragma once

#include "convert/targets.h"
#include "mailstore/mapi/fingerprint.h"
#include "platform/file.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mbx::pst {
class NdbReader;
}

namespace mbx::convert {

class FaultHooks;

// Where a message came from.
struct MessageOrigin {
    std::string mailbox;
    std::uint64_t index = 0;
    std::uint64_t offset = 0;
};

class Verifier {
public:
    // Switches reading back on or off; `faults` may break a file before it is read back.
    void configure(bool on, FaultHooks* faults);
    bool on() const { return on_; }

    // The message was stored as node `message` in folder `folder` of the open data file.
    void stored(std::uint32_t folder, std::uint32_t message, const MessageOrigin& origin,
                mapi::MessagePrint print);
    // The data file at `path`, now complete, holds the messages stored since the last call:
    // reads it back and compares. With `header`, that is taken for the file's own (which is
    // written once the rest is on the device, while this runs).
    void checkDataFile(const std::string& path, const std::vector<std::uint8_t>* header = nullptr);
    // The open data file was given up with its messages: they are not expected anywhere.
    void forget();
    // The message file at `path`, handed over open in `file`, was written from a message with
    // print `print`. It is read back through `file`, which is closed then, with others once
    // kMessageFileBatch are waiting (files read one after another cost about half as much as
    // files read each between two writes), or by checkWaitingMessageFiles(). Thread-safe.
    void checkMessageFile(const std::string& path, platform::File file, const MessageOrigin& origin,
                          mapi::MessagePrint print);
    // Reads back every message file still waiting. Thread-safe.
    void checkWaitingMessageFiles();
    static constexpr std::size_t kMessageFileBatch = 128;

    Verification take();
    // Puts back, ahead of what was found since, what take() gave (for a caller that took it to
    // drop only what a data file's read-back then found).
    void putBack(Verification earlier);

private:
    // What one stored message is expected to hold, in a fixed size: the digests of its print,
    // where it came from and where it was stored. Its attachments (most messages have none) are
    // in attachments_. Kept in deques: hundreds of thousands are added one by one, and a vector
    // growing would hold two copies for a while.
    struct Expected {
        std::uint32_t folder;
        std::uint32_t message;
        std::uint32_t mailbox; // in mailboxes_
        std::uint32_t recipientCount;
        std::uint64_t firstAttachment; // in attachments_
        std::uint64_t attachmentCount;
        std::uint64_t index;
        std::uint64_t offset;
        std::uint64_t subject;
        std::uint64_t sender;
        std::uint64_t recipients;
        std::uint64_t date;
        std::uint64_t body;
        std::uint64_t html;
        std::uint64_t bodyBytes;
    };
    using Attachments = std::deque<mapi::MessagePrint::Attachment>;
    // The print `e` was made from.
    static mapi::MessagePrint printOf(const Expected& e, const Attachments& attachments);
    struct ReadBack;
    struct Expectation;
    // Reads back, through `ndb`, the expected messages that no other thread has taken yet.
    static ReadBack readBack(const pst::NdbReader& ndb, Expectation& expectation,
                             std::size_t mailboxCount);
    struct WrittenFile {
        std::string path;
        platform::File file;
        MessageOrigin origin;
        mapi::MessagePrint print;
    };
    void readBack(WrittenFile& file);
    void verified(const std::string& mailbox);
    void mismatch(const std::string& mailbox, std::optional<std::uint64_t> index,
                  std::uint64_t offset, std::string reason);

    bool on_ = false;
    FaultHooks* faults_ = nullptr;
    std::mutex mutex_; // result_, for message files read back on worker threads
    Verification result_;
    std::mutex waitingMutex_; // waiting_
    std::vector<WrittenFile> waiting_;
    std::vector<std::string> mailboxes_; // of expected_: each path once, not once per message
    std::deque<Expected> expected_;
    Attachments attachments_;
};

} // namespace mbx::convert
