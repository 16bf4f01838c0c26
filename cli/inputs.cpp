#include "cli/inputs.h"

#include "platform/file.h"
#include "selection/folder_scan.h"

#include <filesystem>
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

} // namespace

Inputs collectInputs(const std::vector<std::string>& paths) {
    Inputs inputs;
    std::set<std::string> seen;
    const auto add = [&](const fs::path& path) {
        auto text = platform::utf8FromPath(path);
        if (!seen.insert(text).second) {
            return;
        }
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        inputs.mailboxes.push_back(std::move(text));
        inputs.sizes.push_back(ec ? 0 : size);
        inputs.totalBytes += ec ? 0 : size;
    };
    for (const auto& given : paths) {
        std::error_code ec;
        // The output layout repeats each mailbox's absolute path, as the window's lists hold it.
        const auto path = fs::absolute(platform::pathFromUtf8(given), ec).lexically_normal();
        const auto status = fs::status(path, ec);
        if (status.type() == fs::file_type::not_found) {
            inputs.error = given + ": no such file or folder";
            return inputs;
        }
        if (ec) {
            // Out of reach (a path too long, a folder above it that cannot be searched): not a
            // typing mistake, so the other paths are still converted.
            inputs.unreadable.push_back({given, ec.message()});
            continue;
        }
        if (fs::is_directory(status)) {
            auto scan = selection::scanFolder(platform::utf8FromPath(path));
            for (const auto& mailbox : scan.mailboxes) {
                add(platform::pathFromUtf8(mailbox));
            }
            for (auto& problem : scan.unreadable) {
                inputs.unreadable.push_back({shown(problem.path), std::move(problem.reason)});
            }
        } else {
            add(path);
        }
    }
    if (inputs.mailboxes.empty() && inputs.unreadable.empty()) {
        inputs.error = "nothing to convert: no mailbox in the folders given (no file ending in "
                       ".mbx or .mbox, nor a file without extension starting with \"From "
                       "???@???\")";
    }
    return inputs;
}

} // namespace mbx::cli
