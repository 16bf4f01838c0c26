#include "mailstore/pst/writer.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/pst/messaging/message.h"
#include "mailstore/pst/messaging/store.h"
#include "mailstore/pst/messaging/templates.h"
#include "mailstore/pst/ndb/ndb_writer.h"

#include <random>

namespace mbx::pst {

struct PstWriter::Impl {
    Impl(const SinkTarget& target, std::string name, WriterOptions options)
        : ndb(target, options.crypt == Crypt::Permute), folders(initialFolders()) {
        info.displayName = std::move(name);
        std::random_device rd;
        info.recordKey.resize(16);
        for (std::size_t i = 0; i < 16; i += 4)
            writeLe32(info.recordKey.data() + i, rd());
        rng = std::mt19937_64((std::uint64_t{rd()} << 32) | rd());
        // The special folders use the first folder indexes, as in Outlook's blank store.
        for (NidType t : {NidType::NormalFolder, NidType::HierarchyTable, NidType::ContentsTable,
                          NidType::AssocContentsTable})
            ndb.reserveNidIndex(t, nidIndex(nids::CommonViews));
    }

    Folder& folder(FolderId id) {
        auto it = folders.find(id);
        if (it == folders.end() || it->second.search || id == nids::RootFolder)
            throw PstError("no such mail folder");
        return it->second;
    }

    NdbWriter ndb;
    StoreInfo info;
    NameToIdMap names;
    std::map<Nid, Folder> folders;
    std::mt19937_64 rng;
    bool closed = false;
};

std::unique_ptr<PstWriter> PstWriter::create(const std::filesystem::path& path,
                                             std::string displayName, WriterOptions options) {
    return std::unique_ptr<PstWriter>(
        new PstWriter(std::make_unique<Impl>(path, std::move(displayName), options)));
}

std::unique_ptr<PstWriter> PstWriter::createInMemory(std::vector<std::uint8_t>& image,
                                                     std::string displayName,
                                                     WriterOptions options) {
    return std::unique_ptr<PstWriter>(
        new PstWriter(std::make_unique<Impl>(&image, std::move(displayName), options)));
}

PstWriter::PstWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PstWriter::~PstWriter() {
    try {
        close();
    } catch (...) {
        // A destructor cannot report; the header stays invalid and readers refuse the file.
    }
}

FolderId PstWriter::ipmSubtree() const {
    return nids::IpmSubtree;
}

FolderId PstWriter::addFolder(FolderId parent, std::string name) {
    if (impl_->closed)
        throw PstError("the data file is closed");
    Folder& p = impl_->folder(parent);
    Folder f;
    f.nid = impl_->ndb.newNid(NidType::NormalFolder);
    for (NidType t : {NidType::HierarchyTable, NidType::ContentsTable, NidType::AssocContentsTable})
        impl_->ndb.reserveNidIndex(t, nidIndex(f.nid));
    f.parent = parent;
    f.name = std::move(name);
    f.containerClass = "IPF.Note";
    p.children.push_back(f.nid);
    const Nid nid = f.nid;
    impl_->folders.emplace(nid, std::move(f));
    return nid;
}

std::optional<FolderId> PstWriter::findFolder(std::string_view path) const {
    std::string_view rest = path;
    while (!rest.empty() && rest.front() == '\\')
        rest.remove_prefix(1);
    auto next = [&rest]() {
        const auto pos = rest.find('\\');
        std::string_view part = rest.substr(0, pos);
        rest = pos == std::string_view::npos ? std::string_view{} : rest.substr(pos + 1);
        return part;
    };
    if (next() != impl_->info.displayName)
        return std::nullopt;
    Nid current = nids::IpmSubtree;
    while (!rest.empty()) {
        const std::string_view name = next();
        if (name.empty())
            continue;
        std::optional<Nid> found;
        for (Nid child : impl_->folders.at(current).children) {
            if (impl_->folders.at(child).name == name) {
                found = child; // the first of equally named folders, as they were created
                break;
            }
        }
        if (!found)
            return std::nullopt;
        current = *found;
    }
    return current;
}

std::uint32_t PstWriter::addMessage(FolderId folderId, const mapi::Message& message) {
    if (impl_->closed)
        throw PstError("the data file is closed");
    Folder& f = impl_->folder(folderId);
    validateMessage(message);
    const WrittenMessage m = writeMessage(impl_->ndb, impl_->names, impl_->rng, message);
    const Nid nid = impl_->ndb.newNid(NidType::NormalMessage);
    impl_->ndb.addNode(nid, m.data, m.sub, f.nid);
    if (!f.contents) {
        f.contentsSubs = std::make_unique<SubnodeSet>();
        f.contents = std::make_unique<TcWriter>(impl_->ndb, templates::contents(), *f.contentsSubs);
    }
    f.contents->addRow(nid, m.props);
    ++f.contentCount;
    if (!(m.flags & mapi::tags::MsgFlagRead))
        ++f.unreadCount;
    ++messages_;
    return nid;
}

void PstWriter::close(const std::function<void(ByteView header)>& whileDataSyncs) {
    if (impl_->closed)
        return;
    impl_->closed = true;
    for (auto& [nid, f] : impl_->folders)
        writeFolder(impl_->ndb, f, impl_->folders);
    writeStoreNodes(impl_->ndb, impl_->info, impl_->names);
    impl_->ndb.finish(whileDataSyncs);
}

} // namespace mbx::pst
