#include "selection/eudora_tree.h"

#include "mailstore/mime/charset.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

namespace mbx::selection {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMapFileName = "descmap.pce";
// Deeper than any tree a person builds; a loop that links do not make (a bind mount) ends here.
constexpr int kMaxDepth = 64;

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return out;
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Longer than any name Eudora lets a user type; a longer name in a damaged map is cut here, at a
// character boundary, so that no folder of the converted tree carries a megabyte of name.
constexpr std::size_t kMaxNameBytes = 255;

// The name with every control character (C0, DEL, C1) a blank, blanks trimmed, at most
// kMaxNameBytes long.
std::string cleanName(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            out += ' ';
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.size() > kMaxNameBytes) {
        std::size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
            --cut; // not inside a UTF-8 sequence
        }
        out.resize(cut);
    }
    return std::string(trimBlanks(out));
}

// A name from a folder map, which Eudora wrote in windows-1252.
std::string displayName(std::string_view bytes) {
    return cleanName(mime::windows1252ToUtf8(bytes));
}

// A file name that stays inside the map's folder: no separator, no drive, no control character,
// not "." or "..".
bool isPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':';
    });
}

bool isSystemFileName(std::string_view file) {
    const std::string root = lowerAscii(file.substr(0, file.find('.')));
    return root == "in" || root == "out" || root == "junk" || root == "trash";
}

std::string quotedName(std::string_view text) {
    std::string out = "\"";
    out += text;
    out += '"';
    return out;
}

// A folder's entries by lower-cased name: Eudora ran on file systems that ignore letter case, so
// "FAMILY~1.MBX" in a map names "family~1.mbx" on a copy.
struct FolderListing {
    struct Item {
        fs::path path;
        bool directory = false;
        bool regularFile = false;
    };
    std::vector<Item> items; // by file name
    std::map<std::string, std::size_t> byLowerName;
};

class TreeReader {
public:
    TreeReader(EudoraTree& tree, const std::function<bool(const fs::path&)>& isMailbox)
        : tree_(tree), isMailbox_(isMailbox) {}

    void readFolder(const fs::path& folder, const std::vector<std::string>& names, int depth) {
        std::error_code ec;
        const fs::path canonical = fs::canonical(folder, ec);
        if (!ec && !visited_.insert(canonical).second) {
            return;
        }
        if (depth > kMaxDepth) {
            tree_.notes.push_back({folder, "folders nested deeper than " +
                                               std::to_string(kMaxDepth) + " levels; not read"});
            return;
        }
        FolderListing listing;
        if (!list(folder, listing)) {
            return;
        }
        std::set<std::size_t> usedFiles; // positions in the listing
        UniqueNames entryNames;          // the display names of this folder's entries
        const auto uniqueName = [&entryNames](const std::string& given) {
            return entryNames.take(given);
        };
        const auto addMailbox = [&](const fs::path& file, const std::string& name, bool system) {
            tree_.mailboxes.push_back({file, names, uniqueName(name), system});
        };
        const auto enter = [&](const fs::path& sub, const std::string& name) {
            auto inner = names;
            inner.push_back(uniqueName(name));
            readFolder(sub, inner, depth + 1);
        };

        const auto map = listing.byLowerName.find(std::string(kMapFileName));
        if (map != listing.byLowerName.end()) {
            const auto& mapItem = listing.items[map->second];
            usedFiles.insert(map->second);
            for (const auto& entry : readMap(mapItem.path)) {
                const auto found = listing.byLowerName.find(lowerAscii(entry.file));
                const std::string what = "the folder map " + mapItem.path.string() + " lists " +
                                         quotedName(entry.name) + " as " + entry.file;
                if (found == listing.byLowerName.end()) {
                    tree_.notes.push_back({folder / entry.file, what + ", which is not there"});
                    continue;
                }
                if (!usedFiles.insert(found->second).second) {
                    tree_.notes.push_back({folder / entry.file, what + ", listed before"});
                    continue;
                }
                const auto& item = listing.items[found->second];
                if (entry.kind == MapEntry::Kind::Folder) {
                    if (item.directory) {
                        enter(item.path, entry.name);
                    } else {
                        usedFiles.erase(found->second);
                        tree_.notes.push_back({item.path, what + ", which is not a folder"});
                    }
                } else if (item.regularFile && isMailbox_(item.path)) {
                    addMailbox(item.path, entry.name,
                               entry.kind == MapEntry::Kind::System &&
                                   isSystemFileName(entry.file));
                } else {
                    usedFiles.erase(found->second);
                    tree_.notes.push_back(
                        {item.path, what + (item.regularFile ? ", which is not a mailbox"
                                                             : ", which is not a file")});
                }
            }
        }
        for (std::size_t i = 0; i < listing.items.size(); ++i) {
            const auto& item = listing.items[i];
            const std::string file = item.path.filename().string();
            if (item.regularFile && !usedFiles.count(i) && isMailbox_(item.path)) {
                const std::string stem = item.path.stem().string();
                addMailbox(item.path, nameFromFileSystem(stem.empty() ? file : stem), false);
            }
        }
        for (std::size_t i = 0; i < listing.items.size(); ++i) {
            const auto& item = listing.items[i];
            const std::string file = item.path.filename().string();
            if (item.directory && !usedFiles.count(i)) {
                std::string name = file;
                if (lowerAscii(item.path.extension().string()) == ".fol") {
                    name = item.path.stem().string();
                }
                enter(item.path, nameFromFileSystem(name.empty() ? file : name));
            }
        }
    }

private:
    bool list(const fs::path& folder, FolderListing& listing) {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        const fs::directory_iterator end;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code statusError;
            const auto status = it->symlink_status(statusError);
            FolderListing::Item item{it->path(), false, false};
            if (!statusError) {
                // A link to a folder is not followed (it could lead back up the tree); a link
                // to a file is read like the file.
                item.directory = fs::is_directory(status);
                item.regularFile = fs::is_regular_file(status) ||
                                   (fs::is_symlink(status) && fs::is_regular_file(it->path(), ec));
                ec.clear();
            }
            listing.items.push_back(std::move(item));
        }
        if (ec) {
            tree_.unreadable.push_back({folder, ec.message()});
            return false;
        }
        std::sort(listing.items.begin(), listing.items.end(), [](const auto& a, const auto& b) {
            return a.path.filename() < b.path.filename();
        });
        for (std::size_t i = 0; i < listing.items.size(); ++i) {
            // Of two names that differ only in letter case, the first in order is the one a map
            // entry names.
            listing.byLowerName.emplace(lowerAscii(listing.items[i].path.filename().string()), i);
        }
        return true;
    }

    std::vector<MapEntry> readMap(const fs::path& path) {
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        if (ec) {
            tree_.notes.push_back({path, "the folder map could not be read: " + ec.message()});
            return {};
        }
        if (size > kMaxFolderMapBytes) {
            tree_.notes.push_back({path, "the folder map is larger than " +
                                             std::to_string(kMaxFolderMapBytes / 1024) +
                                             " KiB and was not read; file names are used"});
            return {};
        }
        std::ifstream in(path, std::ios::binary);
        std::string text(static_cast<std::size_t>(size), '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        if (!in) {
            tree_.notes.push_back({path, "the folder map could not be read"});
            return {};
        }
        auto reading = parseFolderMap(text);
        for (auto& reason : reading.rejected) {
            tree_.notes.push_back({path, std::move(reason)});
        }
        return std::move(reading.entries);
    }

    EudoraTree& tree_;
    const std::function<bool(const fs::path&)>& isMailbox_;
    std::set<fs::path> visited_;
};

} // namespace

std::string nameFromFileSystem(std::string_view bytes) {
    return cleanName(mime::decodeUnlabelled(bytes));
}

MapReading parseFolderMap(std::string_view text) {
    MapReading reading;
    std::size_t lineNumber = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r') {
            ++pos;
        }
        if (pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
        ++lineNumber;
        if (trimBlanks(line).empty()) {
            continue;
        }
        const auto reject = [&](const std::string& why) {
            reading.rejected.push_back("line " + std::to_string(lineNumber) + " " + why +
                                       "; ignored");
        };
        if (line.find('\0') != std::string_view::npos) {
            reject("is not text");
            continue;
        }
        const auto comma1 = line.find(',');
        const auto comma2 = comma1 == std::string_view::npos ? comma1 : line.find(',', comma1 + 1);
        if (comma2 == std::string_view::npos) {
            reject("is not \"name,file,type\"");
            continue;
        }
        MapEntry entry;
        entry.name = displayName(line.substr(0, comma1));
        entry.file = std::string(trimBlanks(line.substr(comma1 + 1, comma2 - comma1 - 1)));
        const auto rest = trimBlanks(line.substr(comma2 + 1));
        if (entry.name.empty()) {
            reject("has no name");
            continue;
        }
        if (!isPlainFileName(entry.file)) {
            reject("names a file outside its folder");
            continue;
        }
        switch (rest.empty() ? '\0' : rest.front()) {
        case 'S':
        case 's':
            entry.kind = MapEntry::Kind::System;
            break;
        case 'M':
        case 'm':
            entry.kind = MapEntry::Kind::Mailbox;
            break;
        case 'F':
        case 'f':
            entry.kind = MapEntry::Kind::Folder;
            break;
        default:
            reject("has an unknown type");
            continue;
        }
        reading.entries.push_back(std::move(entry));
    }
    return reading;
}

std::string UniqueNames::take(const std::string& given) {
    // A file name of blanks alone leaves nothing to show.
    const std::string wanted = given.empty() ? std::string("Untitled") : given;
    std::string name = wanted;
    for (int n = 2; !used_.insert(lowerAscii(name)).second; ++n) {
        name = wanted + " (" + std::to_string(n) + ")";
    }
    return name;
}

EudoraTree readEudoraTree(const fs::path& root,
                          const std::function<bool(const fs::path&)>& isMailbox) {
    EudoraTree tree;
    TreeReader(tree, isMailbox).readFolder(root, {}, 0);
    return tree;
}

} // namespace mbx::selection
