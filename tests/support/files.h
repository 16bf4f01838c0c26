// File and process helpers shared by the tests.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <utility>

namespace mbx::testing {

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes `bytes` to `p`, creating its folders; gives the path back.
inline std::string writeFile(const std::filesystem::path& p, std::string_view bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p.string();
}

// Whether the path `path` (as the engine names it: '/' or, on Windows, '\\' between names) ends
// in the file name `name`.
inline bool endsInFile(std::string_view path, std::string_view name) {
    const auto slash = path.find_last_of("/\\");
    return path.substr(slash == std::string_view::npos ? 0 : slash + 1) == name;
}

// A new empty folder for one test under the test program's scratch folder.
inline std::filesystem::path scratchDir(const std::string& name) {
    const auto dir = std::filesystem::path(MBX_SCRATCH_DIR) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// The path in single quotes, for a shell command line.
inline std::string quoted(const std::filesystem::path& p) {
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "'" + std::string&&.
    std::string s(1, '\'');
    s += p.string();
    s += '\'';
    return s;
}

// Runs a shell command; its exit status and everything it printed (stdout and stderr).
inline std::pair<int, std::string> runCommand(const std::string& command) {
    std::string output;
#ifdef _WIN32
    FILE* pipe = _popen((command + " 2>&1").c_str(), "r");
#else
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
#endif
    if (!pipe) {
        return {-1, ""};
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe)) {
        output += buffer.data();
    }
#ifdef _WIN32
    return {_pclose(pipe), output};
#else
    const int status = pclose(pipe);
    return {WEXITSTATUS(status), output};
#endif
}

} // namespace mbx::testing
