// Small path routines shared by the folder scan and the conversion run. A path is text in which
// the platform's separator ('/' on POSIX, '\' on Windows) is the only separator.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace mbx::paths {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// Raised by fileNameOfPath for the empty text (there is no component to take).
class NoComponentError : public std::out_of_range {
public:
    NoComponentError() : std::out_of_range("Subscript out of range (9): empty path") {}
};

// The text after the last separator: the whole text without one, the empty text when the path
// ends in one. Throws NoComponentError for the empty text.
std::string fileNameOfPath(std::string_view path);

// The path with exactly one separator appended when it does not already end in one.
std::string ensureTrailingSeparator(std::string_view path);

// Creates the folder and every missing parent. True when the folder exists afterwards.
bool ensureFolderExists(std::string_view path);

} // namespace mbx::paths
