// The mailboxes a command line names: files as given, folders searched as the window's folder
// scan searches them.
#pragma once

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
};

Inputs collectInputs(const std::vector<std::string>& paths);

} // namespace mbx::cli
