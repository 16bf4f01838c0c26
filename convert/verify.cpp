#include "convert/verify.h"

#include "convert/faults.h"
#include "mailstore/msg/msg_reader.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/read/store_reader.h"
#include "platform/file.h"

#include <algorithm>
#include <future>
#include <map>
#include <unordered_map>

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
                         origin.index, origin.offset, std::move(print)});
}

void Verifier::forget() {
    expected_.clear();
    mailboxes_.clear();
}

void Verifier::checkDataFile(const std::string& path) {
    if (!on_) {
        return;
    }
    std::vector<Expected> expected;
    std::vector<std::string> mailboxes;
    expected.swap(expected_);
    mailboxes.swap(mailboxes_);
    if (faults_ != nullptr) {
        faults_->beforeReadBack(path);
    }
    // Failures of the file as a whole belong to its mailbox when it holds one mailbox's
    // messages, else to the mailbox (or run) the engine is completing it for.
    const std::string whole = mailboxes.size() == 1 ? mailboxes.front() : std::string();
    // One reader, its indexes loaded once, serves the read-back and (through a sibling with a
    // read window of its own) the structure check, which reads the whole file as the messages
    // are read back: on a thread of its own, the two take hardly longer than either.
    std::unique_ptr<pst::NdbReader> ndb;
    std::string unopened;
    try {
        ndb = std::make_unique<pst::NdbReader>(platform::pathFromUtf8(path));
    } catch (const std::exception& e) {
        unopened = e.what();
    }
    auto checking = std::async(std::launch::async, [&ndb, &unopened] {
        if (!ndb) {
            return std::vector<std::string>{"cannot open: " + unopened};
        }
        try {
            // The messages' heaps and tables are left to the read-back, which refuses a
            // damaged one.
            return pst::checkReader(ndb->sibling(), pst::MessageDepth::Nodes).faults;
        } catch (const std::exception& e) {
            return std::vector<std::string>{e.what()};
        }
    });
    compare(path, ndb.get(), unopened, whole, expected, mailboxes);
    const auto faults = checking.get();
    if (!faults.empty()) {
        mismatch(whole, std::nullopt, 0,
                 "the data file " + path +
                     " read back fails its structure check: " + faults.front() +
                     (faults.size() > 1 ? " (and " + std::to_string(faults.size() - 1) + " more)"
                                        : std::string()));
    }
}

void Verifier::compare(const std::string& path, const pst::NdbReader* ndb,
                       const std::string& unopened, const std::string& whole,
                       const std::vector<Expected>& expected,
                       const std::vector<std::string>& mailboxes) {
    std::vector<pst::StoredFolder> folders;
    std::unique_ptr<pst::StoreReader> reader;
    std::string unreadable = unopened;
    if (ndb != nullptr) {
        try {
            reader = std::make_unique<pst::StoreReader>(*ndb);
            folders = reader->folders();
        } catch (const std::exception& e) {
            unreadable = e.what();
        }
    }
    std::unordered_map<std::uint32_t, const pst::StoredFolder*> byNid;
    for (const auto& f : folders) {
        byNid.emplace(f.nid, &f);
    }
    // Messages written per folder, against the folder's count and contents table.
    std::map<std::uint32_t, std::uint64_t> written;
    for (const auto& e : expected) {
        ++written[e.folder];
    }
    if (unreadable.empty()) {
        for (const auto& [nid, count] : written) {
            const auto it = byNid.find(nid);
            if (it == byNid.end()) {
                continue; // each of its messages says so below
            }
            const auto& f = *it->second;
            if (f.contentCount != count || f.messages.size() != count) {
                mismatch(whole, std::nullopt, 0,
                         "the folder \"" + f.path + "\" of " + path + " holds " +
                             std::to_string(f.messages.size()) + " messages (its count says " +
                             std::to_string(f.contentCount) + "); " + std::to_string(count) +
                             " were written to it");
            }
        }
    }
    // Each folder's contents rows, sorted (a set of a few hundred thousand would take megabytes
    // more).
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> listed;
    for (auto& f : folders) {
        auto& rows = listed[f.nid];
        rows.swap(f.messages);
        std::sort(rows.begin(), rows.end());
    }
    for (const auto& e : expected) {
        const auto& mailbox = mailboxes[e.mailbox];
        if (!unreadable.empty()) {
            mismatch(mailbox, e.index, e.offset,
                     "the data file " + path + " cannot be read back: " + unreadable);
            continue;
        }
        const auto folder = byNid.find(e.folder);
        if (folder == byNid.end()) {
            mismatch(mailbox, e.index, e.offset,
                     "its folder is missing from the data file " + path);
            continue;
        }
        const auto& where = folder->second->path;
        const auto& rows = listed[e.folder];
        if (!std::binary_search(rows.begin(), rows.end(), e.message) ||
            !reader->contains(e.message)) {
            mismatch(mailbox, e.index, e.offset,
                     "missing from the folder \"" + where + "\" of the data file " + path);
            continue;
        }
        std::string differs;
        try {
            differs = mapi::differences(e.print, mapi::fingerprint(*reader->message(e.message)));
        } catch (const std::exception& ex) {
            differs = std::string("it cannot be read: ") + ex.what();
        }
        if (differs.empty()) {
            verified(mailbox);
        } else {
            mismatch(mailbox, e.index, e.offset,
                     "read back from the folder \"" + where + "\" of " + path + ": " + differs);
        }
    }
}

void Verifier::checkMessageFile(const std::string& path, const MessageOrigin& origin,
                                const mapi::MessagePrint& print) {
    if (!on_) {
        return;
    }
    if (faults_ != nullptr) {
        faults_->beforeReadBack(path);
    }
    std::string differs;
    try {
        differs = mapi::differences(
            print, mapi::fingerprint(*msg::readMsg(platform::pathFromUtf8(path)), kMsgRows));
    } catch (const std::exception& e) {
        differs = std::string("it cannot be read: ") + e.what();
    }
    if (differs.empty()) {
        verified(origin.mailbox);
    } else {
        mismatch(origin.mailbox, origin.index, origin.offset,
                 "the message file " + path + " read back: " + differs);
    }
}

Verification Verifier::take() {
    std::lock_guard lock(mutex_);
    Verification out;
    std::swap(out, result_);
    return out;
}

} // namespace mbx::convert
