#include "selection/paths.h"

#include "platform/file.h"

#include <filesystem>
#include <system_error>

namespace mbx::paths {

std::string fileNameOfPath(std::string_view path) {
    if (path.empty()) {
        throw NoComponentError();
    }
    const auto pos = path.rfind(kSeparator);
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ensureTrailingSeparator(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != kSeparator) {
        out.push_back(kSeparator);
    }
    return out;
}

bool ensureFolderExists(std::string_view path) {
    // The trailing separator makes the last component a folder, as for every other component.
    const auto folder = platform::pathFromUtf8(ensureTrailingSeparator(path));
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

} // namespace mbx::paths
