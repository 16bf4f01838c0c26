#include "selection/path_logger.h"

#include "platform/file.h"
#include "selection/paths.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace mbx::selection {

namespace fs = std::filesystem;

namespace {

// "K" followed by the number in decimal.
std::string key(std::int32_t n) {
    std::string k(1, 'K');
    k += std::to_string(n);
    return k;
}

template <typename L> std::shared_ptr<L> ensure(std::shared_ptr<L>& list) {
    if (!list) {
        list = std::make_shared<L>();
    }
    return list;
}

struct FolderEntries {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    // What could not be read: the folder itself (to its end), or an entry of it (a name whose
    // full path is too long, say), with the system's reason.
    std::vector<PathLogger::UnreadableFolder> problems;
};

// The sub-folders and files of one folder, each sorted by name so that the walk is the same on
// every platform. Links to folders are neither followed nor logged (no cycles); a folder that
// cannot be read gives the entries read before the error, and the walk goes on.
FolderEntries enumerate(const std::string& folder) {
    FolderEntries out;
    std::error_code ec;
    fs::directory_iterator it(platform::pathFromUtf8(folder), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code sec;
        const fs::file_status own = it->symlink_status(sec);
        if (sec) {
            out.problems.push_back({platform::utf8FromPath(it->path()), sec});
            continue;
        }
        std::string name = platform::utf8FromPath(it->path().filename());
        if (fs::is_directory(own)) {
            out.folders.push_back(std::move(name));
        } else if (fs::is_symlink(own)) {
            if (!fs::is_directory(it->status(sec)) && !sec) {
                out.files.push_back(std::move(name));
            }
        } else {
            out.files.push_back(std::move(name));
        }
    }
    if (ec) {
        out.problems.push_back({folder, ec});
    }
    std::stable_sort(out.folders.begin(), out.folders.end());
    std::stable_sort(out.files.begin(), out.files.end());
    return out;
}

} // namespace

void PathLogger::init() {
    initialised_ = true;
    unreadable_.clear();
    fullFileNamesOnly_ = true;
    fileNames_.reset();
    pathPointers_.reset();
    pathNames_.reset();
    fullFileNames_.reset();
}

void PathLogger::logPath(const std::string& folder) {
    if (!initialised_) {
        throw std::logic_error("PathLogger: init must come before logPath");
    }
    std::error_code ec;
    if (!fs::is_directory(platform::pathFromUtf8(folder), ec)) {
        return;
    }
    std::int32_t position = 1;
    std::int32_t queued = 1;
    count_ = 1;
    auto names = pathNames();
    names->add(paths::ensureTrailingSeparator(folder), "K0");
    while (position <= queued) {
        const std::string here = names->item(static_cast<std::size_t>(position));
        const FolderEntries entries = enumerate(here);
        unreadable_.insert(unreadable_.end(), entries.problems.begin(), entries.problems.end());
        for (const auto& sub : entries.folders) {
            ++queued;
            names->add(here + sub + paths::kSeparator, key(queued));
        }
        for (const auto& file : entries.files) {
            const std::string fileKey = key(count_);
            if (fullFileNamesOnly_) {
                fullFileNames()->add(here + file, fileKey);
            } else {
                fileNames()->add(file, fileKey);
                fullFileNames()->add(here + file, fileKey);
                pathPointers()->add(position, fileKey);
            }
            ++count_;
        }
        ++position;
    }
}

void PathLogger::terminate() {
    initialised_ = false;
    fileNames_.reset();
    pathPointers_.reset();
    pathNames_.reset();
    fullFileNames_.reset();
}

std::shared_ptr<PathLogger::TextList> PathLogger::fileNames() {
    return ensure(fileNames_);
}
std::shared_ptr<PathLogger::NumberList> PathLogger::pathPointers() {
    return ensure(pathPointers_);
}
std::shared_ptr<PathLogger::TextList> PathLogger::pathNames() {
    return ensure(pathNames_);
}
std::shared_ptr<PathLogger::TextList> PathLogger::fullFileNames() {
    return ensure(fullFileNames_);
}

} // namespace mbx::selection
