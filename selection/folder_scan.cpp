#include "selection/folder_scan.h"

#include "selection/path_logger.h"
#include "selection/paths.h"

#include <algorithm>
#include <cctype>

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
        if (looksLikeMailbox(entry)) {
            scan.mailboxes.push_back(entry);
        }
    }
    for (const auto& folderError : logger.unreadable()) {
        scan.unreadableFolders.push_back(folderError.path + ": " + folderError.error.message());
    }
    logger.terminate();
    return scan;
}

} // namespace mbx::selection
