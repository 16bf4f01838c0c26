#include "selection/folder_scan.h"

#include "platform/file.h"
#include "selection/path_logger.h"
#include "selection/paths.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace mbx::selection {

bool looksLikeMailbox(const std::string& path) {
    std::string s = path;
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return false;
    }
    s = s.substr(first, s.find_last_not_of(' ') - first + 1);
    const auto endsWith = [&s](std::string_view tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith(".mbox") || endsWith(".mbx");
}

bool isMailboxFile(const std::string& path) {
    if (looksLikeMailbox(path)) {
        return true;
    }
    namespace fs = std::filesystem;
    const fs::path p = platform::pathFromUtf8(path);
    const std::string name = platform::utf8FromPath(p.filename());
    std::error_code ec;
    if (name.empty() || name.starts_with("._") || p.has_extension() ||
        !fs::is_regular_file(p, ec) || ec) {
        return false;
    }
    static constexpr std::string_view kSeparator = "From ???@???";
    std::array<char, kSeparator.size()> head{};
    std::ifstream in(p, std::ios::binary);
    return in.read(head.data(), static_cast<std::streamsize>(head.size())) &&
           std::string_view(head.data(), head.size()) == kSeparator;
}

std::vector<std::string> mailboxesInFolder(const std::string& folder) {
    return scanFolder(folder).mailboxes;
}

FolderScan scanFolder(const std::string& folder) {
    PathLogger logger;
    logger.init();
    logger.fullFileNamesOnly(true);
    logger.logPath(paths::ensureTrailingSeparator(folder));
    FolderScan scan;
    for (const auto& entry : logger.fullFileNames()->items()) {
        if (isMailboxFile(entry)) {
            scan.mailboxes.push_back(entry);
        }
    }
    for (const auto& problem : logger.unreadable()) {
        scan.unreadable.push_back({problem.path, problem.error.message()});
    }
    logger.terminate();
    return scan;
}

} // namespace mbx::selection
