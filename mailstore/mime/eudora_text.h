// Line helpers shared by the Eudora units; case and trimming are common.h's.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime::eudora::text {

inline bool isHex(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// Where the line that starts at `from` ends (its CR or LF, or the end of the text).
inline std::size_t lineEnd(std::string_view text, std::size_t from) {
    while (from < text.size() && text[from] != '\n' && text[from] != '\r') {
        ++from;
    }
    return from;
}

// Calls `f` with every line of the text, split at CRLF, LF or CR; line ends are not part of the
// lines. Lines are found with memchr, LF first: lone CRs are rare.
template <typename F> void forEachLine(std::string_view text, F&& f) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lf = std::min(text.find('\n', pos), text.size());
        std::string_view chunk = text.substr(pos, lf - pos);
        if (lf < text.size() && chunk.ends_with('\r')) {
            chunk.remove_suffix(1);
        }
        for (auto cr = chunk.find('\r'); cr != std::string_view::npos; cr = chunk.find('\r')) {
            f(chunk.substr(0, cr));
            chunk.remove_prefix(cr + 1);
        }
        if (!chunk.empty() || lf < text.size()) {
            f(chunk);
        }
        pos = lf + 1;
    }
}

inline std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> out;
    forEachLine(text, [&](std::string_view line) { out.push_back(line); });
    return out;
}

} // namespace mbx::mime::eudora::text
