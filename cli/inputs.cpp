#include "cli/inputs.h"

#include "selection/folder_scan.h"

#include <filesystem>
#include <set>
#include <system_error>

namespace mbx::cli {

namespace fs = std::filesystem;

Inputs collectInputs(const std::vector<std::string>& paths) {
    Inputs inputs;
    std::set<std::string> seen;
    const auto add = [&](const fs::path& path) {
        auto text = path.string();
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
        const auto path = fs::absolute(fs::path(given), ec).lexically_normal();
        const auto status = fs::status(path, ec);
        if (ec || !fs::exists(status)) {
            inputs.error = given + ": no such file or folder";
            return inputs;
        }
        if (fs::is_directory(status)) {
            for (const auto& mailbox : selection::mailboxesInFolder(path.string())) {
                add(fs::path(mailbox));
            }
        } else {
            add(path);
        }
    }
    if (inputs.mailboxes.empty()) {
        inputs.error = "nothing to convert: no file ending in .mbx or .mbox in the folders given";
    }
    return inputs;
}

} // namespace mbx::cli
