// Scratch files for the scanner and conversion tests, under the test's build folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace mbx::testing {

inline std::filesystem::path scratchDir(const std::string& name) {
    const auto dir = std::filesystem::path(MBX_SCRATCH_DIR) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace mbx::testing
