#include "mailstore/session/session.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/pst/writer.h"

#include <filesystem>

namespace mbx::session {

struct StoreData {
    std::string displayName;
    std::unique_ptr<pst::PstWriter> writer;
    // Folder names under each parent, to refuse a second folder of the same name.
    std::map<std::pair<std::uint32_t, std::string>, std::uint32_t> folders;

    pst::PstWriter& open() {
        if (!writer) {
            throw SessionError("the data file \"" + displayName + "\" has been removed");
        }
        return *writer;
    }
};

RDOFolder RDOFolder::FoldersList::Add(const std::string& name, int kind) {
    if (kind != kFolderKindMail) {
        throw SessionError("only mail folders can be added");
    }
    auto& writer = store_->open();
    if (store_->folders.contains({parent_, name})) {
        throw SessionError("a folder named \"" + name + "\" already exists");
    }
    const auto id = writer.addFolder(parent_, name);
    store_->folders.emplace(std::pair{parent_, name}, id);
    return RDOFolder(store_, id);
}

std::unique_ptr<RDOMail> RDOFolder::ItemsList::Add(int kind) {
    if (kind != kItemKindMail) {
        throw SessionError("only mail items can be added");
    }
    store_->open();
    return std::unique_ptr<RDOMail>(new RDOMail(store_, folder_));
}

void RDOMail::Import(const std::string& path, int format) {
    if (format != kImportRfc822) {
        throw SessionError("unsupported import format " + std::to_string(format));
    }
    try {
        message_ = mime::importRfc822(std::filesystem::path(path));
    } catch (const mime::ImportError& e) {
        throw SessionError(e.what());
    }
    dirty_ = true;
}

void RDOMail::SetOneProp(std::uint32_t tag, std::int32_t value) {
    if (tag == kPrMessageFlags) {
        // A store computes the has-attachments bit from the item itself.
        value = mime::messageFlagsFor(message_, value);
    }
    message_.props.set(tag, value);
    dirty_ = true;
}

void RDOMail::Save() {
    if (!dirty_) {
        return;
    }
    store_->open().addMessage(folder_, message_);
    dirty_ = false;
}

void RDOMail::SaveAs(const std::string& path, int format) {
    if (format != kSaveAsMsg) {
        throw SessionError("unsupported save format " + std::to_string(format));
    }
    try {
        msg::writeMsg(message_, std::filesystem::path(path));
    } catch (const msg::MsgError& e) {
        throw SessionError(e.what());
    }
}

RDOFolder RDOStore::IPMRootFolder() const {
    return RDOFolder(data_, data_->open().ipmSubtree());
}

void RDOStore::Remove() {
    if (data_->writer) {
        data_->writer->close();
        data_->writer.reset();
    }
}

const std::string& RDOStore::displayName() const {
    return data_->displayName;
}

RDOSession::RDOSession() = default;

RDOSession::~RDOSession() {
    for (auto& [name, store] : stores_) {
        if (store->writer) {
            try {
                store->writer->close();
            } catch (...) {
                // Nothing more can be done for this file at the end of the session.
            }
        }
    }
}

void RDOSession::Logon() {
    loggedOn_ = true;
}

void RDOSession::Logoff() {
    loggedOn_ = false;
}

void RDOSession::requireLogon() const {
    if (!loggedOn_) {
        throw SessionError("the session is not logged on");
    }
}

RDOSession::StoresList RDOSession::Stores() {
    requireLogon();
    return StoresList(*this);
}

RDOStore RDOSession::StoresList::AddPSTStore(const std::string& path, int format,
                                             const std::string& displayName) {
    if (format != kStoreFormatDefault) {
        throw SessionError("unsupported data-file format " + std::to_string(format));
    }
    // Our library writes new data files only: an existing file is never replaced.
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::path(path), ec)) {
        throw SessionError("the data file " + path + " already exists");
    }
    auto data = std::make_shared<StoreData>();
    data->displayName = displayName;
    try {
        data->writer = pst::PstWriter::create(std::filesystem::path(path), displayName);
    } catch (const std::exception& e) {
        throw SessionError("cannot create the data file " + path + ": " + e.what());
    }
    // A store of the same display name that is still in the session keeps its place.
    auto& slot = session_.stores_[displayName];
    if (!slot || !slot->writer) {
        slot = data;
    }
    return RDOStore(data);
}

RDOFolder RDOSession::GetFolderFromPath(const std::string& path) {
    requireLogon();
    // "\\" + store display name + "\" + folder path
    if (path.rfind("\\\\", 0) != 0) {
        throw SessionError("not a folder path: " + path);
    }
    const auto sep = path.find('\\', 2);
    const std::string storeName =
        path.substr(2, sep == std::string::npos ? std::string::npos : sep - 2);
    const auto it = stores_.find(storeName);
    if (it == stores_.end() || !it->second->writer) {
        throw SessionError("no data file named \"" + storeName + "\" in the session");
    }
    const auto folder = it->second->writer->findFolder(path);
    if (!folder) {
        throw SessionError("no folder " + path);
    }
    return RDOFolder(it->second, *folder);
}

void MAPIUtils::HrSetOneProp(MapiObject& object, std::uint32_t tag, std::int32_t value, bool save) {
    object.SetOneProp(tag, value);
    if (save) {
        object.SaveChanges();
    }
}

} // namespace mbx::session
