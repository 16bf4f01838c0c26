// Eudora's own folder tree: the mailboxes under a folder, each with the name the user gave it in
// Eudora and the folders it sits in.
//
// Eudora for Windows gives mailboxes and folders short file names ("FAMILY~1.MBX",
// "WORKPR~1.FOL") and keeps the names the user chose in a map file in every folder,
// "descmap.pce", one line an entry:
//
//     Display name,FILE.EXT,T,U
//
// T is S for a system mailbox (In, Out, Junk, Trash), M for a mailbox and F for a folder (a
// sub-folder with a map of its own); U is an unread flag (U, Y or N) that may be missing. The map
// is windows-1252 text. Mac Eudora keeps no map: its tree is the folders themselves, holding
// mailboxes without an extension.
//
// Nothing in a map can take the walk outside the tree, hide a mailbox or stop the walk: entries
// are plain file names inside their own folder, mailboxes a map does not list are found all the
// same (under their file name), links to folders are not followed, and anything a map says that
// cannot be used is told in a note.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::selection {

struct TreeMailbox {
    std::filesystem::path file;
    // The display names of the folders above the mailbox, outermost first (UTF-8); empty for a
    // mailbox in the tree's top folder.
    std::vector<std::string> folders;
    std::string name; // the mailbox's display name (UTF-8)
    bool system = false;
};

struct TreeProblem {
    std::filesystem::path path;
    std::string reason;
};

struct EudoraTree {
    // Depth first, in Eudora's order: in each folder the entries of its map as the map lists
    // them (a sub-folder's mailboxes where the sub-folder is listed), then the mailboxes the map
    // does not list, then the sub-folders it does not list, each by file name. Names are unique
    // among the entries of a folder: a second "Work" becomes "Work (2)".
    std::vector<TreeMailbox> mailboxes;
    // Map entries that were not used and why (a missing file, a line that is not an entry ...).
    std::vector<TreeProblem> notes;
    // Folders that could not be read: their mailboxes may be missing from the tree.
    std::vector<TreeProblem> unreadable;
};

// One line of a map, as far as it could be understood.
struct MapEntry {
    enum class Kind { System, Mailbox, Folder };
    std::string name; // UTF-8, control characters replaced by blanks, trimmed
    std::string file; // as written (windows-1252 bytes)
    Kind kind = Kind::Mailbox;
};

struct MapReading {
    std::vector<MapEntry> entries;
    std::vector<std::string> rejected; // one reason per line that is not an entry
};

// Names unique among one folder's entries, compared without regard to ASCII case: a second
// "Work" becomes "Work (2)", an empty name "Untitled".
class UniqueNames {
public:
    std::string take(const std::string& given);

private:
    std::set<std::string> used_; // lower-cased
};

// The entries of a map's text. A line is an entry when it has a name, a file name that names a
// file inside the map's own folder, and a known type letter.
MapReading parseFolderMap(std::string_view text);

// A file or folder name as the tree shows it: UTF-8 as a Mac or a Linux copy holds it,
// windows-1252 when the bytes are not UTF-8; control characters blanks, blanks trimmed.
std::string nameFromFileSystem(std::string_view bytes);

// A map larger than this is not read (its folder is taken as one without a map, and a note says
// so): real maps hold a line per mailbox, a few kilobytes.
inline constexpr std::uintmax_t kMaxFolderMapBytes = 1024 * 1024;

// The tree under `root`. `isMailbox` decides which files that no map lists are mailboxes.
EudoraTree readEudoraTree(const std::filesystem::path& root,
                          const std::function<bool(const std::filesystem::path&)>& isMailbox);

} // namespace mbx::selection
