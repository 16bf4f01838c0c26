#include "convert/store_steps.h"

#include "mailstore/session/session.h"
#include "selection/paths.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace mbx::convert {

using session::MAPIUtils;
using session::RDOSession;
using session::RDOStore;

MailStoreSteps::MailStoreSteps(Format format) : format_(format) {}

MailStoreSteps::~MailStoreSteps() = default; // the session completes any data file still open

std::string MailStoreSteps::TimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%02d %d.%d.%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::string MailStoreSteps::FreeDataFilePath(const std::string& pathWithoutExtension) {
    std::string candidate = pathWithoutExtension + ".pst";
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(candidate, ec); ++n) {
        candidate = pathWithoutExtension + " (" + std::to_string(n) + ").pst";
    }
    return candidate;
}

bool MailStoreSteps::Open(const std::string& path, const std::string& displayName) {
    try {
        store_.reset();
        session_ = std::make_unique<RDOSession>();
        session_->Logon();
        store_ = std::make_unique<RDOStore>(
            session_->Stores().AddPSTStore(path, session::kStoreFormatDefault, displayName));
        displayName_ = displayName;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool MailStoreSteps::OpenRunStore(const std::string& outputRoot) {
    const std::string path = FreeDataFilePath(outputRoot + "Temp" + TimeStamp());
    // The clock is read again for the display name, as for any new name.
    return Open(path, "Temp : Created - " + TimeStamp());
}

bool MailStoreSteps::OpenMailboxStore(const std::string& outputRoot,
                                      const std::string& mailboxName) {
    return Open(FreeDataFilePath(outputRoot + mailboxName), mailboxName);
}

void MailStoreSteps::AddMailboxFolder(const std::string& mailboxName) {
    folderName_ = mailboxName;
    try {
        store_->IPMRootFolder().Folders().Add(folderName_, session::kFolderKindMail);
    } catch (const std::exception&) {
        // Not reported: the messages go wherever the folder path leads.
    }
}

void MailStoreSteps::ImportMessage(const std::string& emlPath, const std::string& mailboxFolder,
                                   std::uint64_t k) {
    // Each call that fails is skipped; the later ones for the same message still run.
    std::unique_ptr<session::RDOMail> item;
    try {
        item = session_->GetFolderFromPath("\\\\" + displayName_ + "\\" + folderName_)
                   .Items()
                   .Add(session::kItemKindMail);
    } catch (const std::exception&) {
    }
    if (item) {
        try {
            item->Import(emlPath, session::kImportRfc822);
        } catch (const std::exception&) {
        }
        try {
            MAPIUtils utils;
            utils.HrSetOneProp(item->MAPIOBJECT(), session::kPrMessageFlags, 17, true);
        } catch (const std::exception&) {
        }
        try {
            if (format_ == Format::Msg) {
                item->SaveAs(mailboxFolder + paths::kSeparator + "Email-" + std::to_string(k) +
                                 ".msg",
                             session::kSaveAsMsg);
            } else {
                item->Save();
            }
        } catch (const std::exception&) {
        }
    }
    std::error_code ec;
    std::filesystem::remove(emlPath, ec);
}

void MailStoreSteps::CloseStore() {
    try {
        if (store_) {
            store_->Remove();
        }
    } catch (const std::exception&) {
    }
    store_.reset();
    if (session_) {
        session_->Logoff();
    }
    session_.reset();
}

} // namespace mbx::convert
