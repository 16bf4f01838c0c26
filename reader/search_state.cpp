#include "reader/search_state.h"

namespace mbx::reader {

std::string SearchState::offsetsText() const {
    std::string text;
    text.reserve(offsets.size() * 8);
    for (const auto offset : offsets) {
        text += std::to_string(offset);
        text += '|';
    }
    return text;
}

} // namespace mbx::reader
