// Small helpers for the store target tests: scratch folders, files, and running the checkers.
#pragma once

#include "tests/support/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace mbx::testing {

// Message count of every folder of the data file, as libpff's pffinfo/pffexport see them,
// as "name=count" lines sorted by name; empty text when the file cannot be read.
inline std::string folderCounts(const std::filesystem::path& pst) {
    const auto target = pst.parent_path() / (pst.filename().string() + "-export");
    std::filesystem::remove_all(target.string() + ".export");
    const auto [status, out] = runCommand("pffexport -q -m items -f all -t '" + target.string() +
                                          "' '" + pst.string() + "'");
    if (status != 0) {
        return "pffexport failed: " + out;
    }
    std::string result;
    const auto top = std::filesystem::path(target.string() + ".export") / "Top of Personal Folders";
    std::vector<std::string> lines;
    for (const auto& folder : std::filesystem::directory_iterator(top)) {
        int n = 0;
        for (const auto& m : std::filesystem::directory_iterator(folder.path())) {
            n += m.path().filename().string().rfind("Message", 0) == 0;
        }
        lines.push_back(folder.path().filename().string() + "=" + std::to_string(n));
    }
    std::sort(lines.begin(), lines.end());
    for (const auto& l : lines) {
        result += l + "\n";
    }
    return result;
}

} // namespace mbx::testing
