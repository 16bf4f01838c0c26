#include "mailstore/pst/messaging/store.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/messaging/templates.h"

#include <algorithm>

namespace mbx::pst {
namespace {

Bytes u32(std::uint32_t v) {
    Bytes b;
    append32(b, v);
    return b;
}

void pcNode(NdbWriter& ndb, Nid nid, std::vector<EncodedProp> props, Nid parent = 0) {
    SubnodeSet subs;
    const Bid data = writePropertyContext(ndb, subs, std::move(props));
    ndb.addNode(nid, data, subs.write(ndb), parent);
}

void tableNode(NdbWriter& ndb, Nid nid, const TcLayout& layout) {
    SubnodeSet subs;
    TcWriter t(ndb, layout, subs);
    ndb.addNode(nid, t.finish(), subs.write(ndb), 0);
}

Folder special(Nid nid, Nid parent, std::string name) {
    Folder f;
    f.nid = nid;
    f.parent = parent;
    f.name = std::move(name);
    return f;
}

} // namespace

Bytes makeEntryId(const Bytes& recordKey, Nid nid) {
    Bytes b(24, 0); // rgbFlags (4 zero bytes), provider UID (16), NID (4)
    std::copy_n(recordKey.begin(), std::min<std::size_t>(16, recordKey.size()), b.begin() + 4);
    put32(b.data() + 20, nid);
    return b;
}

std::map<Nid, Folder> initialFolders() {
    std::map<Nid, Folder> folders;
    auto add = [&](Folder f) {
        const Nid nid = f.nid;
        folders.emplace(nid, std::move(f));
    };
    add(special(nids::RootFolder, nids::RootFolder, ""));
    add(special(nids::IpmSubtree, nids::RootFolder, "Top of Personal Folders"));
    add(special(nids::SearchRoot, nids::RootFolder, "Search Root"));
    Folder spam = special(nids::SpamSearchFolder, nids::RootFolder, "SPAM Search Folder 2");
    spam.search = true;
    add(std::move(spam));
    add(special(nids::CommonViews, nids::RootFolder, "IPM_COMMON_VIEWS"));
    Folder deleted = special(nids::DeletedItems, nids::IpmSubtree, "Deleted Items");
    deleted.extraProps.push_back({0x3004001F, utf16le("Deleted Items folder")});
    add(std::move(deleted));
    // Order of the hierarchy rows follows Outlook's blank store.
    folders.at(nids::RootFolder).children = {nids::IpmSubtree, nids::SearchRoot,
                                             nids::SpamSearchFolder, nids::CommonViews};
    folders.at(nids::IpmSubtree).children = {nids::DeletedItems};
    return folders;
}

void writeStoreNodes(NdbWriter& ndb, const StoreInfo& info, const NameToIdMap& names) {
    using namespace mapi::tags;
    Bytes versionHistory; // one replica: a version counter of 1 under the store's own key
    append32(versionHistory, 1);
    appendBytes(versionHistory, info.recordKey);
    append32(versionHistory, 1);
    pcNode(ndb, nids::MessageStore,
           {
               {0x0E340102, versionHistory},
               {0x0E380003, u32(0)},
               {0x0FF90102, info.recordKey},
               {DisplayName, utf16le(info.displayName)},
               {0x35DF0003, u32(0x01 | 0x08 | 0x40 | 0x80)}, // subtree, wastebasket, views, finder
               {0x35E00102, makeEntryId(info.recordKey, nids::IpmSubtree)},
               {0x35E30102, makeEntryId(info.recordKey, nids::DeletedItems)},
               {0x35E60102, makeEntryId(info.recordKey, nids::CommonViews)},
               {0x35E70102, makeEntryId(info.recordKey, nids::SearchRoot)},
               {0x6633000B, Bytes{1}},        // PidTagPstLrNoRestrictions
               {0x66FA0003, u32(0x000E0011)}, // PidTagLatestPstEnsure
               {0x67FF0003, u32(0)},          // PidTagPstPassword: none
           });
    pcNode(ndb, nids::NameToIdMap, names.properties());
    ndb.addNode(nids::SearchManagementQueue, 0, 0, 0);
    // The search activity list names the one search folder of a new store.
    ndb.addNode(nids::SearchActivityList, ndb.writeBlock(u32(nids::SpamSearchFolder), false), 0, 0);
    ndb.addNode(nids::SearchDomainObject, 0, 0, 0);
    tableNode(ndb, nids::HierarchyTableTemplate, templates::hierarchy());
    tableNode(ndb, nids::ContentsTableTemplate, templates::contents());
    tableNode(ndb, nids::AssocContentsTableTemplate, templates::assocContents());
    tableNode(ndb, nids::SearchContentsTableTemplate, templates::searchContents());
    tableNode(ndb, nids::AttachmentTable, templates::attachments());
    tableNode(ndb, nids::RecipientTable, templates::recipients());
}

} // namespace mbx::pst
