#include "mailstore/pst/messaging/store.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/messaging/templates.h"

#include <algorithm>

namespace mbx::pst {
namespace {

// The PidTagLatestPstEnsure value Outlook writes into a new store; [MS-PST] gives no meaning.
constexpr std::uint32_t kLatestPstEnsure = 0x000E0011;

Bytes u32(std::uint32_t v) {
    Bytes b;
    appendLe32(b, v);
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
    writeLe32(b.data() + 20, nid);
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
    deleted.extraProps.push_back({mapi::tags::Comment, utf16le("Deleted Items folder")});
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
    appendLe32(versionHistory, 1);
    appendBytes(versionHistory, info.recordKey);
    appendLe32(versionHistory, 1);
    pcNode(ndb, nids::MessageStore,
           {
               {ReplVersionHistory, versionHistory},
               {ReplFlags, u32(0)},
               {RecordKey, info.recordKey},
               {DisplayName, utf16le(info.displayName)},
               {ValidFolderMask,
                u32(ValidIpmSubtree | ValidWastebasket | ValidCommonViews | ValidFinder)},
               {IpmSubtreeEntryId, makeEntryId(info.recordKey, nids::IpmSubtree)},
               {IpmWastebasketEntryId, makeEntryId(info.recordKey, nids::DeletedItems)},
               {CommonViewsEntryId, makeEntryId(info.recordKey, nids::CommonViews)},
               {FinderEntryId, makeEntryId(info.recordKey, nids::SearchRoot)},
               {PstLrNoRestrictions, Bytes{1}},
               {LatestPstEnsure, u32(kLatestPstEnsure)},
               {PstPassword, u32(0)}, // none
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
