// The folder scan without the window: which files of a folder tree count as mailboxes, and in
// which order the scan lists them. The window's "Select folder" and mbxvane-convert share it.
#pragma once

#include <string>
#include <vector>

namespace mbx::selection {

// The mailbox-name test: the name, lower-cased and trimmed of blanks, ends in ".mbox" or ".mbx".
bool looksLikeMailbox(const std::string& path);

// The mailbox test of the folder scan: a name that looks like a mailbox, or a Mac mailbox ("In",
// "Family"): a regular file whose name has no extension, does not start with "._" and whose
// first bytes are Eudora's separator "From ???@???". Tables of contents, settings, pictures and
// AppleDouble files beside the mailboxes never pass.
bool isMailboxFile(const std::string& path);

// Every mailbox file under `folder`, at any depth, breadth first as PathLogger walks it: the
// folder's own mailboxes, then those of its sub-folders level by level. Paths are the folder (with
// one trailing separator) followed by the path inside it. Empty for a folder that does not exist.
std::vector<std::string> mailboxesInFolder(const std::string& folder);

// The same walk, with what it could not read: folders, whose mailboxes are missing, and entries
// it could not tell file from folder, each with the system's reason.
struct UnreadablePath {
    std::string path;
    std::string reason;
};
struct FolderScan {
    std::vector<std::string> mailboxes;
    std::vector<UnreadablePath> unreadable;
};
FolderScan scanFolder(const std::string& folder);

} // namespace mbx::selection
