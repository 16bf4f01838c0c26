#include "scanner/search_state.h"

#include <charconv>

namespace mbx::scanner {

std::string SearchState::offsetsText() const {
    std::string text;
    text.reserve(offsets.size() * 8);
    for (const auto offset : offsets) {
        text += std::to_string(offset);
        text += '|';
    }
    return text;
}

std::vector<std::uint64_t> parseOffsetsText(const std::string& text) {
    std::vector<std::uint64_t> result;
    if (text.empty()) {
        return result;
    }
    // The text ends in "|"; dropping the last character and splitting at "|" gives the pieces.
    const std::string_view body(text.data(), text.size() - 1);
    std::size_t start = 0;
    while (start <= body.size()) {
        const auto bar = body.find('|', start);
        const auto end = bar == std::string_view::npos ? body.size() : bar;
        const auto piece = body.substr(start, end - start);
        std::uint64_t value = 0;
        const auto [ptr, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (ec == std::errc() && ptr == piece.data() + piece.size() && !piece.empty()) {
            result.push_back(value);
        }
        if (bar == std::string_view::npos) {
            break;
        }
        start = bar + 1;
    }
    return result;
}

} // namespace mbx::scanner
