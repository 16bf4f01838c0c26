#include "cli/inputs.h"

#include "platform/file.h"
#include "selection/folder_scan.h"

#include <filesystem>
#include <functional>
#include <set>
#include <system_error>

namespace mbx::cli {

namespace fs = std::filesystem;

namespace {

// A folder as the walk names it, with its trailing separator, shown without one.
std::string shown(std::string path) {
    if (path.size() > 1 && path.back() == fs::path::preferred_separator) {
        path.pop_back();
    }
    return path;
}

// Adds each mailbox once, in the order given.
class InputList {
public:
    explicit InputList(Inputs& inputs) : inputs_(inputs) {}

    // False when the mailbox is listed already.
    bool add(const fs::path& path) {
        auto text = platform::utf8FromPath(path);
        if (!seen_.insert(text).second) {
            return false;
        }
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        inputs_.mailboxes.push_back(std::move(text));
        inputs_.sizes.push_back(ec ? 0 : size);
        inputs_.totalBytes += ec ? 0 : size;
        return true;
    }

private:
    Inputs& inputs_;
    std::set<std::string> seen_;
};

// Each PATH, absolute, with what it is; false (and `inputs.error` set) at the first that is
// missing. PATHs out of reach are noted as unreadable and left out.
bool resolvePaths(const std::vector<std::string>& paths, Inputs& inputs,
                  const std::function<void(const fs::path&, bool folder)>& visit) {
    for (const auto& given : paths) {
        std::error_code ec;
        // The output layout repeats each mailbox's absolute path, as the window's lists hold it.
        const auto path = fs::absolute(platform::pathFromUtf8(given), ec).lexically_normal();
        const auto status = fs::status(path, ec);
        if (status.type() == fs::file_type::not_found) {
            inputs.error = given + ": no such file or folder";
            return false;
        }
        if (ec) {
            // Out of reach (a path too long, a folder above it that cannot be searched): not a
            // typing mistake, so the other paths are still converted.
            inputs.unreadable.push_back({given, ec.message()});
            continue;
        }
        visit(path, fs::is_directory(status));
    }
    return true;
}

void requireMailboxes(Inputs& inputs) {
    if (inputs.mailboxes.empty() && inputs.unreadable.empty()) {
        inputs.error = "nothing to convert: no mailbox in the folders given (no file ending in "
                       ".mbx or .mbox, nor a file without extension starting with \"From "
                       "???@???\")";
    }
}

// A folder PATH's name as a top folder: its last component ("/" for the root).
std::string topName(const fs::path& folder) {
    auto path = folder;
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) {
        path = path.parent_path(); // "Mail/" after normalising
    }
    const auto name = platform::utf8FromPath(path.filename());
    return name.empty() ? platform::utf8FromPath(path) : selection::nameFromFileSystem(name);
}

} // namespace

Inputs collectInputs(const std::vector<std::string>& paths) {
    Inputs inputs;
    InputList list(inputs);
    const bool found = resolvePaths(paths, inputs, [&](const fs::path& path, bool folder) {
        if (!folder) {
            list.add(path);
            return;
        }
        auto scan = selection::scanFolder(platform::utf8FromPath(path));
        for (const auto& mailbox : scan.mailboxes) {
            list.add(platform::pathFromUtf8(mailbox));
        }
        for (auto& problem : scan.unreadable) {
            inputs.unreadable.push_back({shown(problem.path), std::move(problem.reason)});
        }
    });
    if (found) {
        requireMailboxes(inputs);
    }
    return inputs;
}

Inputs collectTree(const std::vector<std::string>& paths) {
    Inputs inputs;
    InputList list(inputs);
    selection::UniqueNames topNames;
    const auto unique = [&topNames](const std::string& given) { return topNames.take(given); };
    const bool several = paths.size() > 1;
    const auto isMailbox = [](const fs::path& p) {
        return selection::isMailboxFile(platform::utf8FromPath(p));
    };
    const bool found = resolvePaths(paths, inputs, [&](const fs::path& path, bool folder) {
        if (!folder) {
            const auto stem = platform::utf8FromPath(path.stem());
            if (list.add(path)) {
                inputs.places.push_back(
                    {{},
                     unique(selection::nameFromFileSystem(
                         stem.empty() ? platform::utf8FromPath(path.filename()) : stem))});
            }
            return;
        }
        auto tree = selection::readEudoraTree(path, isMailbox);
        std::vector<std::string> top;
        if (several) {
            top.push_back(unique(topName(path)));
        }
        for (auto& mailbox : tree.mailboxes) {
            if (list.add(mailbox.file)) {
                auto folders = top;
                folders.insert(folders.end(), mailbox.folders.begin(), mailbox.folders.end());
                inputs.places.push_back({std::move(folders), std::move(mailbox.name)});
            }
        }
        for (auto& problem : tree.unreadable) {
            inputs.unreadable.push_back(
                {platform::utf8FromPath(problem.path), std::move(problem.reason)});
        }
        for (auto& note : tree.notes) {
            inputs.notes.push_back(std::move(note));
        }
    });
    if (found) {
        requireMailboxes(inputs);
    }
    return inputs;
}

} // namespace mbx::cli
