#include "convert/store_target.h"

#include "convert/faults.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/messaging/message.h"
#include "mailstore/pst/writer.h"
#include "platform/file.h"
#include "selection/paths.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace mbx::convert {

namespace {

struct ImportedMessage : PreparedMessage {
    mapi::Message message;
    // For reading the data file back: what the message holds and where it came from.
    mapi::MessagePrint print;
    MessageOrigin origin;
};

// How the messages of one mailbox are imported.
struct ImportPlan : MailboxPlan {
    mime::ImportOptions options;
    // What Eudora's table of contents says about each message, by message number; empty when
    // the mailbox has no table that agrees with it.
    std::vector<mime::eudora::MessageState> states;
};

// Read and has-attachments, as the converted messages have always been flagged; the store
// keeps the has-attachments bit only for messages that have attachments.
constexpr std::int32_t kRequestedFlags = mapi::tags::MsgFlagRead | mapi::tags::MsgFlagHasAttach;

// The system's error behind a writer's failure, when there is one.
std::error_code systemErrorOf(const std::exception& e) {
    if (const auto* error = dynamic_cast<const pst::PstError*>(&e)) {
        return error->code();
    }
    if (const auto* error = dynamic_cast<const msg::MsgError*>(&e)) {
        return error->code();
    }
    if (const auto* error = dynamic_cast<const std::system_error*>(&e)) {
        return error->code();
    }
    return {};
}

// Whether the file at `path` begins with `header`.
bool headerOnDiskIs(const std::string& path, const std::vector<std::uint8_t>& header) {
    platform::File file;
    std::vector<std::uint8_t> found(header.size());
    return file.open(platform::pathFromUtf8(path)) &&
           file.readAt(reinterpret_cast<char*>(found.data()), found.size(), 0) == found.size() &&
           found == header;
}

// A failure of the open data file: it is lost, and with a full device so is the run.
TargetError storeFailure(const std::exception& e) {
    const auto code = systemErrorOf(e);
    return TargetError(isDeviceFull(code) ? TargetError::Scope::Device : TargetError::Scope::Store,
                       e.what(), code);
}

// The MIME import of one message; files its attachment lines name are looked up as `options`
// say, and those not found are noted.
mapi::Message importMessage(const MessageJob& job, const mime::ImportOptions& options,
                            std::vector<std::string>& notes, mime::ImportSession& session) {
    return mime::importRfc822(
        std::span(reinterpret_cast<const std::byte*>(job.bytes.data()), job.bytes.size()), options,
        notes, session);
}

// The first bytes of the mailbox, enough to tell its line ends; empty when it cannot be read.
std::string headOf(const std::string& path) {
    std::string head(4096, '\0');
    std::ifstream in(platform::pathFromUtf8(path), std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(in ? head.size()
                   : static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return head;
}

std::string countOf(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Eudora's table of contents beside the mailbox, checked against the messages found: the
// per-message states when it agrees with them, else the report's note saying why not. True when
// the table is in Mac Eudora's layout (agreeing or not).
bool readTableOfContents(const MailboxContext& mailbox, ImportPlan& plan) {
    namespace eudora = mime::eudora;
    const std::filesystem::path path = platform::pathFromUtf8(mailbox.path);
    const auto found = eudora::findToc(path);
    if (found.file.empty()) {
        plan.summary = "no Eudora table of contents";
        return false;
    }
    const bool mac = found.read.toc && found.read.toc->family == eudora::Family::Mac;
    const std::string file = found.file.filename().string();
    std::string reason = found.read.reason;
    if (found.read.toc) {
        const auto& toc = *found.read.toc;
        const bool labelled = std::any_of(toc.records.begin(), toc.records.end(),
                                          [](const auto& r) { return r.label > 0; });
        auto checked =
            eudora::validate(toc, mailbox.starts, mailbox.size, {},
                             labelled ? eudora::labelNames(path) : std::vector<std::string>{});
        if (checked.reason.empty()) {
            plan.states = std::move(checked.states);
            plan.summary = "Eudora's table of contents " + file + " used";
            if (checked.unlisted > 0) {
                plan.summary += "; " + countOf(checked.unlisted, "message", "messages") +
                                " not listed in it (category \"" +
                                std::string(eudora::kUnlistedCategory) + "\")";
            }
            return mac;
        }
        reason = std::move(checked.reason);
    }
    plan.summary = "Eudora's table of contents " + file + " not used";
    plan.notes.push_back("Eudora's table of contents " + file + " was not used: " + reason +
                         "; every message was converted and stored as read");
    return mac;
}

} // namespace

MailStoreTarget::~MailStoreTarget() = default; // the writer completes a data file still open

std::string MailStoreTarget::timeStamp() {
    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::localTime(now);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%02d %d.%d.%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::string MailStoreTarget::freeDataFilePath(const std::string& pathWithoutExtension) {
    std::string candidate = pathWithoutExtension + ".pst";
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(platform::pathFromUtf8(candidate), ec); ++n) {
        candidate = pathWithoutExtension + " (" + std::to_string(n) + ").pst";
    }
    return candidate;
}

void MailStoreTarget::open(const std::string& path, const std::string& displayName) {
    writer_.reset();
    folders_.clear();
    stored_ = 0;
    path_ = path;
    try {
        writer_ = pst::PstWriter::create(platform::pathFromUtf8(path), displayName);
    } catch (const std::exception& e) {
        writer_.reset();
        const auto code = systemErrorOf(e);
        throw TargetError(isDeviceFull(code) ? TargetError::Scope::Device
                                             : TargetError::Scope::Store,
                          "cannot create the data file " + path + ": " + e.what(), code);
    }
}

void MailStoreTarget::enterMailboxFolder(const std::vector<std::string>& path) {
    std::vector<std::string> key;
    std::uint32_t folder = writer_->ipmSubtree();
    for (const auto& name : path) {
        key.push_back(name);
        if (const auto it = folders_.find(key); it != folders_.end()) {
            folder = it->second;
            continue;
        }
        try {
            folder = writer_->addFolder(folder, name);
        } catch (const std::exception& e) {
            throw storeFailure(e);
        }
        folders_.emplace(key, folder);
    }
    folder_ = folder;
}

void MailStoreTarget::store(PreparedMessage& message) {
    auto& imported = static_cast<ImportedMessage&>(message);
    try {
        const auto node = writer_->addMessage(folder_, imported.message);
        if (checksDataFile()) {
            verifier_.stored(folder_, node, imported.origin, std::move(imported.print));
        }
    } catch (const std::exception& e) {
        throw storeFailure(e);
    }
    ++stored_;
}

void MailStoreTarget::close(FaultHooks* faults) {
    if (!writer_) {
        return;
    }
    const bool readBack = checksDataFile() && verifier_.on();
    // What the read-back finds counts only once the file is complete: kept apart until then,
    // and dropped when the file fails after all (its messages are then told as lost).
    Verification earlier = readBack ? verifier_.take() : Verification{};
    const auto failed = [this, readBack, &earlier] {
        if (readBack) { // (else nothing was taken: a .msg run's results stay)
            verifier_.take();
            verifier_.putBack(std::move(earlier));
        }
    };
    try {
        if (faults != nullptr) {
            faults->beforeStoreClose(path_);
        }
        if (!readBack) {
            writer_->close();
        } else {
            // Read back while the data are synced (the processors have nothing else to do
            // then), with the header the writer is about to write; the header on disk must
            // then be that one.
            std::vector<std::uint8_t> header;
            writer_->close([&](pst::ByteView written) {
                header.assign(written.begin(), written.end());
                verifier_.checkDataFile(path_, &header);
                if (faults != nullptr) {
                    faults->afterReadBack(path_);
                }
            });
            if (!headerOnDiskIs(path_, header)) {
                throw TargetError(TargetError::Scope::Store,
                                  "its header read from the disk differs from the one written");
            }
        }
    } catch (const TargetError&) {
        failed();
        throw;
    } catch (const std::exception& e) {
        failed();
        throw storeFailure(e);
    }
    if (readBack) {
        verifier_.putBack(std::move(earlier));
    }
    writer_.reset();
}

void MailStoreTarget::endRun(FaultHooks* faults) {
    close(faults);
}

bool MailStoreTarget::setVerification(bool on, FaultHooks* faults) {
    verifier_.configure(on, faults);
    return on;
}

StoreTarget::Discarded MailStoreTarget::discardStore() {
    verifier_.forget();
    Discarded discarded;
    if (!writer_) {
        return discarded;
    }
    writer_.reset();
    discarded.path = path_;
    std::filesystem::remove(platform::pathFromUtf8(path_), discarded.removal);
    return discarded;
}

std::shared_ptr<const MailboxPlan>
MailStoreTarget::planMailbox(const MailboxContext& mailbox) const {
    const std::filesystem::path path = platform::pathFromUtf8(mailbox.path);
    std::vector<std::filesystem::path> chosen;
    for (const auto& folder : mailbox.attachmentFolders) {
        chosen.push_back(platform::pathFromUtf8(folder));
    }
    const auto folders = mime::eudora::findFolders(path, chosen);
    auto plan = std::make_shared<ImportPlan>();
    plan->options = {folders.attachments, folders.embedded};
    const bool macTable = readTableOfContents(mailbox, *plan);
    // Mac Eudora wrote its undeclared 8-bit text in MacRoman.
    plan->options.eightBitCharset =
        mime::eudora::isMacMailbox(headOf(mailbox.path), macTable) ? "macintosh" : "windows-1252";
    return plan;
}

std::unique_ptr<mime::ImportSession> MailStoreTarget::Sessions::take() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto session = std::move(idle_.back());
            idle_.pop_back();
            return session;
        }
    }
    return std::make_unique<mime::ImportSession>();
}

void MailStoreTarget::Sessions::giveBack(std::unique_ptr<mime::ImportSession> session) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(session));
}

std::unique_ptr<PreparedMessage> MailStoreTarget::prepare(const MessageJob& job) const {
    auto prepared = std::make_unique<ImportedMessage>();
    auto& message = prepared->message;
    const auto* plan = dynamic_cast<const ImportPlan*>(job.plan.get());
    mime::ImportOptions options = plan != nullptr ? plan->options : mime::ImportOptions{};
    if (plan != nullptr && job.index < plan->states.size()) {
        options.state = plan->states[job.index];
    }
    {
        struct Lent {
            Sessions& sessions;
            std::unique_ptr<mime::ImportSession> session = sessions.take();
            ~Lent() { sessions.giveBack(std::move(session)); }
        } lent{sessions_};
        message = importMessage(job, options, prepared->notes, *lent.session);
    }
    // With a table, the import's flags are the table's (unsent outgoing mail among them).
    message.props.set(mapi::tags::MessageFlags,
                      mime::messageFlagsFor(
                          message, options.state
                                       ? message.props.int32(mapi::tags::MessageFlags).value_or(0)
                                       : kRequestedFlags));
    try {
        // Whatever the data file would refuse is refused here, before anything is written.
        pst::validateMessage(message);
    } catch (const std::exception& e) {
        throw TargetError(TargetError::Scope::Message,
                          std::string("the message cannot be stored: ") + e.what());
    }
    prepared->origin = {job.mailbox, job.index, job.offset};
    if (checksDataFile() && verifier_.on()) {
        prepared->print = mapi::fingerprint(message);
    }
    writeMessageFile(job, message, prepared->notes);
    return prepared;
}

void PstTarget::beginMailbox(const std::string& outputRoot, const MailboxPlace& place) {
    open(freeDataFilePath(outputRoot + place.name), place.name);
    enterMailboxFolder({place.name});
}

bool PstTarget::commit(PreparedMessage& message) {
    if (!isOpen()) {
        return false; // its data file is lost, and the loss told
    }
    store(message);
    return true;
}

StoreTarget::Discarded PstTarget::discardStore() {
    const auto lost = stored();
    auto discarded = MailStoreTarget::discardStore();
    discarded.messagesLost = lost;
    return discarded;
}

SingleFilePstTarget::SingleFilePstTarget(std::string path, std::string displayName)
    : path_(std::move(path)), displayName_(std::move(displayName)) {}

void SingleFilePstTarget::beginRun(const std::string& /*outputRoot*/) {
    open(path_, displayName_);
}

void SingleFilePstTarget::beginMailbox(const std::string& /*outputRoot*/,
                                       const MailboxPlace& place) {
    if (!isOpen()) {
        return; // lost or never created: the engine tells the mailbox's loss
    }
    auto path = place.folders;
    path.push_back(place.name);
    enterMailboxFolder(path);
}

bool SingleFilePstTarget::commit(PreparedMessage& message) {
    if (!isOpen()) {
        return false;
    }
    store(message);
    return true;
}

StoreTarget::Discarded SingleFilePstTarget::discardStore() {
    const auto lost = stored();
    auto discarded = MailStoreTarget::discardStore();
    if (!discarded.path.empty()) {
        discarded.messagesLost = lost;
        discarded.wholeRun = true;
    }
    return discarded;
}

void MsgTarget::beginRun(const std::string& outputRoot) {
    const std::string path = freeDataFilePath(outputRoot + "Temp" + timeStamp());
    // The clock is read again for the display name, as for any new name.
    open(path, "Temp : Created - " + timeStamp());
}

void MsgTarget::beginMailbox(const std::string& /*outputRoot*/, const MailboxPlace& place) {
    if (isOpen()) {
        enterMailboxFolder({place.name});
    }
}

void MsgTarget::endMailbox(FaultHooks* /*faults*/) {
    verifier_.checkWaitingMessageFiles();
}

void MsgTarget::endRun(FaultHooks* faults) {
    verifier_.checkWaitingMessageFiles();
    MailStoreTarget::endRun(faults);
}

bool MsgTarget::commit(PreparedMessage& message) {
    // The message file is complete whatever becomes of the data file: when storing fails, the
    // message still counts (acceptsMessages() stays true).
    if (isOpen()) {
        store(message);
    }
    return true;
}

void MsgTarget::writeMessageFile(const MessageJob& job, mapi::Message& message,
                                 std::vector<std::string>& notes) const {
    const auto path =
        job.mailboxFolder + paths::kSeparator + "Email-" + std::to_string(job.index) + ".msg";
    platform::File readBack;
    try {
        auto written = verifier_.on()
                           ? msg::writeMsg(message, platform::pathFromUtf8(path), readBack)
                           : msg::writeMsg(message, platform::pathFromUtf8(path));
        for (auto& note : written.notes) {
            notes.push_back(std::move(note));
        }
    } catch (const std::exception& e) {
        const auto code = systemErrorOf(e);
        throw TargetError(isDeviceFull(code) ? TargetError::Scope::Device
                                             : TargetError::Scope::Message,
                          "cannot write " + path + ": " + e.what(), code);
    }
    if (verifier_.on()) {
        // A .msg holds the first 2048 recipient rows and attachments (the rest is noted).
        verifier_.checkMessageFile(path, std::move(readBack), {job.mailbox, job.index, job.offset},
                                   mapi::fingerprint(message, 2048));
    }
}

std::unique_ptr<StoreTarget> makeStoreTarget(Format format) {
    switch (format) {
    case Format::Pst:
        return std::make_unique<PstTarget>();
    case Format::Msg:
        return std::make_unique<MsgTarget>();
    case Format::Eml:
    case Format::Emlx:
        return makeMessageFileTarget(format);
    case Format::None:
        break;
    }
    return nullptr;
}

} // namespace mbx::convert
