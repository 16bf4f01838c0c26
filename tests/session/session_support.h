// Small helpers for the session tests: scratch folders, files, and running the checkers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <utility>

namespace mbx::testing {

inline std::filesystem::path scratch(const std::string& name) {
    const auto p = std::filesystem::path(MBX_SCRATCH_DIR) / name;
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p;
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::pair<int, std::string> runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return {-1, ""};
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe)) {
        output += buffer.data();
    }
    const int status = pclose(pipe);
    return {WEXITSTATUS(status), output};
}

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
