// The skeleton of a new store as Outlook creates it ([MS-PST] §2.7.1 adjusted to Outlook's own
// blank store): message store and name-to-id map, root folder with the IPM subtree, search root,
// Deleted Items, common views and the spam search folder, the template tables and the search
// bookkeeping nodes.
#pragma once

#include "mailstore/pst/messaging/folder.h"
#include "mailstore/pst/messaging/namemap.h"

namespace mbx::pst {

struct StoreInfo {
    std::string displayName;
    Bytes recordKey; // 16 bytes, the provider UID in every entry ID of this store
};

Bytes makeEntryId(const Bytes& recordKey, Nid nid);

// The special folders of a new store (root, subtree, finder, wastebasket, common views, spam).
std::map<Nid, Folder> initialFolders();

// Message store, name-to-id map, templates and search nodes.
void writeStoreNodes(NdbWriter& ndb, const StoreInfo& info, const NameToIdMap& names);

} // namespace mbx::pst
