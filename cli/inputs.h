// The mailboxes a command line names: files as given, folders searched as the window's folder
// scan searches them.
#pragma once

#include "convert/engine.h"
#include "selection/eudora_tree.h"
#include "selection/folder_scan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mbx::cli {

struct Inputs {
    std::vector<std::string> mailboxes; // absolute paths, in the order named, no path twice
    std::vector<std::uint64_t> sizes;   // bytes of each mailbox
    std::uint64_t totalBytes = 0;
    // Named paths and folders of the search that could not be read, with the system's reason:
    // mailboxes in them, if any, are missing above.
    std::vector<selection::UnreadablePath> unreadable;
    std::string error; // a one-line message when a path is missing or nothing was found
    // For a data file holding the whole tree (collectTree): where each mailbox goes in it, and
    // what the folder maps said that could not be used.
    std::vector<convert::MailboxPlace> places;
    std::vector<selection::TreeProblem> notes;
};

Inputs collectInputs(const std::vector<std::string>& paths);

// The mailboxes of Eudora's folder tree under each folder PATH (selection/eudora_tree.h), in
// Eudora's order and with their display names and folders; a mailbox PATH is a mailbox at the
// top. With several PATHs, each folder's tree goes under a top folder named after it. Names at
// the top are unique, as they are inside every folder: a second "Mail" is "Mail (2)".
Inputs collectTree(const std::vector<std::string>& paths);

} // namespace mbx::cli
