#include "convert/verify.h"

#include "convert/faults.h"
#include "mailstore/msg/msg_reader.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/read/store_reader.h"
#include "platform/file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <unordered_map>
#include <utility>

namespace mbx::convert {

namespace {

// A .msg file holds at most this many recipient rows and attachments per message.
constexpr std::size_t kMsgRows = 2048;

} // namespace

void Verifier::configure(bool on, FaultHooks* faults) {
    on_ = on;
    faults_ = faults;
}

void Verifier::verified(const std::string& mailbox) {
    std::lock_guard lock(mutex_);
    ++result_.verified[mailbox];
}

void Verifier::mismatch(const std::string& mailbox, std::optional<std::uint64_t> index,
                        std::uint64_t offset, std::string reason) {
    std::lock_guard lock(mutex_);
    result_.mismatches.push_back({mailbox, index, offset, std::move(reason)});
}

void Verifier::stored(std::uint32_t folder, std::uint32_t message, const MessageOrigin& origin,
                      mapi::MessagePrint print) {
    if (!on_) {
        return;
    }
    if (mailboxes_.empty() || mailboxes_.back() != origin.mailbox) {
        mailboxes_.push_back(origin.mailbox);
    }
    expected_.push_back({folder, message, static_cast<std::uint32_t>(mailboxes_.size() - 1),
                         print.recipientCount, attachments_.size(), print.attachments.size(),
                         origin.index, origin.offset, print.subject, print.sender, print.recipients,
                         print.date, print.body, print.html, print.bodyBytes});
    for (auto& a : print.attachments) {
        attachments_.push_back(std::move(a));
    }
}

mapi::MessagePrint Verifier::printOf(const Expected& e, const Attachments& attachments) {
    mapi::MessagePrint print;
    print.subject = e.subject;
    print.sender = e.sender;
    print.recipients = e.recipients;
    print.date = e.date;
    print.body = e.body;
    print.html = e.html;
    print.bodyBytes = e.bodyBytes;
    print.recipientCount = e.recipientCount;
    const auto first = attachments.begin() + static_cast<std::ptrdiff_t>(e.firstAttachment);
    print.attachments.assign(first, first + static_cast<std::ptrdiff_t>(e.attachmentCount));
    return print;
}

void Verifier::forget() {
    expected_.clear();
    attachments_.clear();
    mailboxes_.clear();
}

namespace {

// Messages read back are taken from a shared cursor in runs of this many: neighbours in the file,
// so that each reader's window serves a run with few moves.
constexpr std::size_t kReadBackRun = 512;

} // namespace

// What one thread found reading messages back: how many verified per mailbox, and the messages
// that differ (by their position among the expected, told afterwards in that order).
struct Verifier::ReadBack {
    std::vector<std::uint64_t> verified; // by mailbox
    std::vector<std::pair<std::size_t, std::string>> differs;
};

// What the threads reading messages back share; fixed before the first of them is read.
struct Verifier::Expectation {
    const std::string& path;
    const std::deque<Expected>& expected;
    const Attachments& attachments;
    std::unordered_map<std::uint32_t, std::string> folderPaths;           // by node
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> listed; // rows, sorted
    std::atomic<std::size_t> next{0};
};

void Verifier::checkDataFile(const std::string& path, const std::vector<std::uint8_t>* header) {
    if (!on_) {
        return;
    }
    std::deque<Expected> expected;
    Attachments attachments;
    std::vector<std::string> mailboxes;
    expected.swap(expected_);
    attachments.swap(attachments_);
    mailboxes.swap(mailboxes_);
    if (faults_ != nullptr) {
        faults_->beforeReadBack(path);
    }
    // The writer and the messages of the conversion are gone; what the allocator kept of them
    // goes back to the system before the indexes of the read-back take their place.
    platform::releaseFreeMemory();
    // Failures of the file as a whole belong to its mailbox when it holds one mailbox's
    // messages, else to the mailbox (or run) the engine is completing it for.
    const std::string whole = mailboxes.size() == 1 ? mailboxes.front() : std::string();
    // One reader, its indexes loaded once, serves the read-back and (through siblings with read
    // windows of their own) the structure check on a thread of its own, which then joins the
    // read-back for the messages still unread. The check begins once the folders have been
    // read: both read each folder's contents table whole (for 200,000 messages, tens of
    // megabytes), and one at a time is enough.
    std::unique_ptr<pst::NdbReader> ndb;
    std::string unopened;
    try {
        ndb = header != nullptr
                  ? std::make_unique<pst::NdbReader>(platform::pathFromUtf8(path), *header)
                  : std::make_unique<pst::NdbReader>(platform::pathFromUtf8(path));
    } catch (const std::exception& e) {
        unopened = e.what();
    }
    // The data blocks are verified (trailer and CRC) by whichever reader reads them, the check
    // or the read-back, and the blocks none of them read at the end: each is verified once.
    std::shared_ptr<pst::BlockAudit> audit;
    if (ndb) {
        audit = std::make_shared<pst::BlockAudit>(ndb->blocks().size());
        ndb->auditBlocks(audit);
    }
    Expectation expectation{path, expected, attachments, {}, {}};
    std::promise<void> ready; // the expectation is complete
    auto checking = std::async(std::launch::async, [&ndb, &audit, &unopened, &expectation,
                                                    mailboxCount = mailboxes.size(),
                                                    started = ready.get_future()] {
        std::pair<std::vector<std::string>, ReadBack> out;
        if (!ndb) {
            out.first = {"cannot open: " + unopened};
            return out;
        }
        started.wait();
        try {
            // The messages' heaps and tables are left to the read-back, which refuses a
            // damaged one.
            out.first =
                pst::checkReader(ndb->sibling(), pst::MessageDepth::Nodes, audit.get()).faults;
        } catch (const std::exception& e) {
            out.first = {e.what()};
        }
        // What the check built (its maps of the file, the folders' tables) is freed: given back
        // before this thread, too, reads messages back.
        platform::releaseFreeMemory();
        const auto reader = ndb->sibling();
        out.second = readBack(reader, expectation, mailboxCount);
        return out;
    });
    // Whatever happens here, the check's thread is let go on.
    struct Release {
        std::promise<void>* ready;
        void operator()() {
            if (ready != nullptr) {
                std::exchange(ready, nullptr)->set_value();
            }
        }
        ~Release() { (*this)(); }
    } release{&ready};
    std::vector<pst::StoredFolder> folders;
    std::string unreadable = unopened;
    if (!ndb && unreadable.empty()) {
        unreadable = "it cannot be opened";
    }
    if (ndb) {
        try {
            folders = pst::StoreReader(*ndb).folders();
        } catch (const std::exception& e) {
            unreadable = e.what();
        }
    }
    ReadBack mine;
    if (!unreadable.empty()) {
        expectation.next = expected.size(); // nothing for the check's thread to read back
        release();
        for (const auto& e : expected) {
            mismatch(mailboxes[e.mailbox], e.index, e.offset,
                     "the data file " + path + " cannot be read back: " + unreadable);
        }
    } else {
        // Messages written per folder, against the folder's count and contents table.
        std::map<std::uint32_t, std::uint64_t> written;
        for (const auto& e : expected) {
            ++written[e.folder];
        }
        for (auto& f : folders) {
            if (const auto count = written.find(f.nid);
                count != written.end() &&
                (f.contentCount != count->second || f.messages.size() != count->second)) {
                mismatch(whole, std::nullopt, 0,
                         "the folder \"" + f.path + "\" of " + path + " holds " +
                             std::to_string(f.messages.size()) + " messages (its count says " +
                             std::to_string(f.contentCount) + "); " +
                             std::to_string(count->second) + " were written to it");
            }
            // Each folder's contents rows, sorted (a set of a few hundred thousand would take
            // megabytes more).
            auto& rows = expectation.listed[f.nid];
            rows.swap(f.messages);
            std::sort(rows.begin(), rows.end());
            expectation.folderPaths.emplace(f.nid, std::move(f.path));
        }
        // The contents tables read whole for the folders are freed: given back before the
        // check reads them again.
        platform::releaseFreeMemory();
        release();
        mine = readBack(*ndb, expectation, mailboxes.size());
    }
    auto [faults, theirs] = checking.get();
    if (audit) {
        try {
            for (auto& f : pst::checkUnreadBlocks(*ndb, *audit)) {
                faults.push_back(std::move(f));
            }
        } catch (const std::exception& e) {
            faults.push_back(e.what());
        }
    }
    mine.verified.resize(mailboxes.size());
    theirs.verified.resize(mailboxes.size());
    // Told in the order of the messages, whichever thread read them back.
    for (std::size_t m = 0; m < mine.verified.size(); ++m) {
        if (const auto n = mine.verified[m] + theirs.verified[m]; n > 0) {
            std::lock_guard lock(mutex_);
            result_.verified[mailboxes[m]] += n;
        }
    }
    auto& differs = mine.differs;
    differs.insert(differs.end(), std::make_move_iterator(theirs.differs.begin()),
                   std::make_move_iterator(theirs.differs.end()));
    std::sort(differs.begin(), differs.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [at, reason] : differs) {
        const auto& e = expected[at];
        mismatch(mailboxes[e.mailbox], e.index, e.offset, std::move(reason));
    }
    if (!faults.empty()) {
        mismatch(whole, std::nullopt, 0,
                 "the data file " + path +
                     " read back fails its structure check: " + faults.front() +
                     (faults.size() > 1 ? " (and " + std::to_string(faults.size() - 1) + " more)"
                                        : std::string()));
    }
}

Verifier::ReadBack Verifier::readBack(const pst::NdbReader& ndb, Expectation& expectation,
                                      std::size_t mailboxCount) {
    ReadBack out;
    out.verified.assign(mailboxCount, 0);
    const pst::StoreReader reader(ndb);
    const auto& expected = expectation.expected;
    const auto& path = expectation.path;
    for (;;) {
        const std::size_t first = expectation.next.fetch_add(kReadBackRun);
        if (first >= expected.size()) {
            break;
        }
        const std::size_t end = std::min(expected.size(), first + kReadBackRun);
        for (std::size_t at = first; at < end; ++at) {
            const auto& e = expected[at];
            const auto folder = expectation.folderPaths.find(e.folder);
            if (folder == expectation.folderPaths.end()) {
                out.differs.emplace_back(at, "its folder is missing from the data file " + path);
                continue;
            }
            const auto& where = folder->second;
            const auto& rows = expectation.listed.at(e.folder);
            if (!std::binary_search(rows.begin(), rows.end(), e.message) ||
                !reader.contains(e.message)) {
                out.differs.emplace_back(at, "missing from the folder \"" + where +
                                                 "\" of the data file " + path);
                continue;
            }
            std::string differs;
            try {
                differs = mapi::differences(printOf(e, expectation.attachments),
                                            mapi::fingerprint(*reader.message(e.message)));
            } catch (const std::exception& ex) {
                differs = std::string("it cannot be read: ") + ex.what();
            }
            if (differs.empty()) {
                ++out.verified[e.mailbox];
            } else {
                out.differs.emplace_back(at, "read back from the folder \"" + where + "\" of " +
                                                 path + ": " + differs);
            }
        }
    }
    return out;
}

void Verifier::checkMessageFile(const std::string& path, platform::File file,
                                const MessageOrigin& origin, mapi::MessagePrint print) {
    if (!on_) {
        return;
    }
    std::vector<WrittenFile> batch;
    {
        std::lock_guard lock(waitingMutex_);
        waiting_.push_back({path, std::move(file), origin, std::move(print)});
        if (waiting_.size() < kMessageFileBatch) {
            return;
        }
        batch.swap(waiting_);
    }
    for (auto& file : batch) {
        readBack(file);
    }
}

void Verifier::checkWaitingMessageFiles() {
    std::vector<WrittenFile> batch;
    {
        std::lock_guard lock(waitingMutex_);
        batch.swap(waiting_);
    }
    for (auto& file : batch) {
        readBack(file);
    }
}

void Verifier::readBack(WrittenFile& file) {
    if (faults_ != nullptr) {
        faults_->beforeReadBack(file.path);
    }
    // Read through the descriptor it was written with: looking the file up again in a folder
    // the other workers are adding files to costs as much as creating it.
    std::string differs;
    try {
        differs = mapi::differences(
            file.print, mapi::fingerprint(
                            *msg::readMsg(file.file, platform::pathFromUtf8(file.path)), kMsgRows));
    } catch (const std::exception& e) {
        differs = std::string("it cannot be read: ") + e.what();
    }
    // Closing reports the errors of writes the system deferred: a file that looks complete but
    // is not does not stay.
    if (!file.file.close()) {
        std::error_code removal;
        std::filesystem::remove(platform::pathFromUtf8(file.path), removal);
        differs = std::string("it could not be completed (") + std::strerror(file.file.error()) +
                  (removal ? "); it could not be removed either" : "); it has been removed");
    }
    if (differs.empty()) {
        verified(file.origin.mailbox);
    } else {
        mismatch(file.origin.mailbox, file.origin.index, file.origin.offset,
                 "the message file " + file.path + " read back: " + differs);
    }
}

Verification Verifier::take() {
    std::lock_guard lock(mutex_);
    Verification out;
    std::swap(out, result_);
    return out;
}

void Verifier::putBack(Verification earlier) {
    std::lock_guard lock(mutex_);
    for (const auto& [path, count] : result_.verified) {
        earlier.verified[path] += count;
    }
    earlier.mismatches.insert(earlier.mismatches.end(),
                              std::make_move_iterator(result_.mismatches.begin()),
                              std::make_move_iterator(result_.mismatches.end()));
    result_ = std::move(earlier);
}

} // namespace mbx::convert
