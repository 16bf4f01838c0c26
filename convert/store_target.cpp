#include "convert/store_target.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/messaging/message.h"
#include "mailstore/pst/writer.h"
#include "selection/paths.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace mbx::convert {

namespace {

struct ImportedMessage : PreparedMessage {
    mapi::Message message;
};

// Read and has-attachments, as the converted messages have always been flagged; the store
// keeps the has-attachments bit only for messages that have attachments.
constexpr std::int32_t kRequestedFlags = mapi::tags::MsgFlagRead | mapi::tags::MsgFlagHasAttach;

TargetError StoreFailure(const std::string& what) {
    return TargetError(
        MentionsDeviceFull(what) ? TargetError::Scope::Device : TargetError::Scope::Store, what);
}

// The MIME import of one message; files its attachment lines name are looked up as `options`
// say, and those not found are noted.
mapi::Message Import(const MessageJob& job, const mime::ImportOptions& options,
                     std::vector<std::string>& notes) {
    return mime::importRfc822(
        std::span(reinterpret_cast<const std::byte*>(job.bytes.data()), job.bytes.size()), options,
        notes);
}

} // namespace

MailStoreTarget::MailStoreTarget(Format format) : format_(format) {}

MailStoreTarget::~MailStoreTarget() = default; // the writer completes a data file still open

std::string MailStoreTarget::TimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%02d %d.%d.%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::string MailStoreTarget::FreeDataFilePath(const std::string& pathWithoutExtension) {
    std::string candidate = pathWithoutExtension + ".pst";
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(candidate, ec); ++n) {
        candidate = pathWithoutExtension + " (" + std::to_string(n) + ").pst";
    }
    return candidate;
}

void MailStoreTarget::open(const std::string& path, const std::string& displayName) {
    writer_.reset();
    folders_.clear();
    path_ = path;
    try {
        writer_ = pst::PstWriter::create(std::filesystem::path(path), displayName);
    } catch (const std::exception& e) {
        throw TargetError(TargetError::Scope::Store,
                          "cannot create the data file " + path + ": " + e.what());
    }
}

void MailStoreTarget::openRunStore(const std::string& outputRoot) {
    const std::string path = FreeDataFilePath(outputRoot + "Temp" + TimeStamp());
    // The clock is read again for the display name, as for any new name.
    open(path, "Temp : Created - " + TimeStamp());
}

void MailStoreTarget::openMailboxStore(const std::string& outputRoot,
                                       const std::string& mailboxName) {
    open(FreeDataFilePath(outputRoot + mailboxName), mailboxName);
}

void MailStoreTarget::addMailboxFolder(const std::string& mailboxName) {
    if (const auto it = folders_.find(mailboxName); it != folders_.end()) {
        folder_ = it->second;
        return;
    }
    try {
        folder_ = writer_->addFolder(writer_->ipmSubtree(), mailboxName);
    } catch (const std::exception& e) {
        throw StoreFailure(e.what());
    }
    folders_.emplace(mailboxName, folder_);
}

void MailStoreTarget::beginMailbox(const std::string& mailboxPath,
                                   const std::string& attachmentsFolder) {
    const auto folders = mime::eudora::findFolders(std::filesystem::path(mailboxPath),
                                                   std::filesystem::path(attachmentsFolder));
    importOptions_ = {folders.attachments, folders.embedded};
}

std::unique_ptr<PreparedMessage> MailStoreTarget::prepare(const MessageJob& job) const {
    auto prepared = std::make_unique<ImportedMessage>();
    auto& message = prepared->message;
    message = Import(job, importOptions_, prepared->notes);
    message.props.set(mapi::tags::MessageFlags, mime::messageFlagsFor(message, kRequestedFlags));
    try {
        // Whatever the data file would refuse is refused here, before anything is written.
        pst::validateMessage(message);
    } catch (const std::exception& e) {
        throw TargetError(TargetError::Scope::Message,
                          std::string("the message cannot be stored: ") + e.what());
    }
    if (format_ == Format::Msg) {
        const auto path =
            job.mailboxFolder + paths::kSeparator + "Email-" + std::to_string(job.index) + ".msg";
        try {
            auto written = msg::writeMsg(message, std::filesystem::path(path));
            for (auto& note : written.notes) {
                prepared->notes.push_back(std::move(note));
            }
        } catch (const std::exception& e) {
            throw TargetError(MentionsDeviceFull(e.what()) ? TargetError::Scope::Device
                                                           : TargetError::Scope::Message,
                              "cannot write " + path + ": " + e.what());
        }
    }
    return prepared;
}

void MailStoreTarget::commit(PreparedMessage& message) {
    try {
        writer_->addMessage(folder_, static_cast<ImportedMessage&>(message).message);
    } catch (const std::exception& e) {
        throw StoreFailure(e.what());
    }
}

void MailStoreTarget::closeStore() {
    if (!writer_) {
        return;
    }
    try {
        writer_->close();
    } catch (const std::exception& e) {
        throw StoreFailure(e.what());
    }
    writer_.reset();
}

void MailStoreTarget::discardStore() {
    writer_.reset();
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
}

std::unique_ptr<StoreTarget> MakeStoreTarget(Format format) {
    if (format == Format::Pst || format == Format::Msg) {
        return std::make_unique<MailStoreTarget>(format);
    }
    return nullptr;
}

} // namespace mbx::convert
