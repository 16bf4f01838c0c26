// Folder objects ([MS-PST] §2.4.4): a property context plus hierarchy, contents and
// associated-contents tables sharing the folder's NID index. Contents rows are added as messages
// are saved; the folder's own nodes are written at close, when its counts are final.
#pragma once

#include "mailstore/pst/ltp/tc.h"

#include <map>
#include <memory>

namespace mbx::pst {

struct Folder {
    Nid nid = 0;
    Nid parent = 0;
    std::string name;
    std::string containerClass; // empty: none (Outlook's own special folders carry none)
    std::vector<EncodedProp> extraProps;
    std::vector<Nid> children; // in creation order
    std::uint32_t contentCount = 0;
    std::uint32_t unreadCount = 0;
    bool search = false; // a search folder has no hierarchy or contents table of its own kind
    std::unique_ptr<SubnodeSet> contentsSubs;
    std::unique_ptr<TcWriter> contents;

    std::vector<EncodedProp> pcProps() const;
    // The folder's row in its parent's hierarchy table.
    std::vector<EncodedProp> hierarchyCells() const;
};

// Writes the folder's property context and its three tables (for a search folder: its search
// update queue, criteria and search contents table) and registers their nodes.
void writeFolder(NdbWriter& ndb, Folder& folder, const std::map<Nid, Folder>& all);

} // namespace mbx::pst
