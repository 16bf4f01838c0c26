// What the reader has found in the open file: the end-of-search flag and the offsets reported so
// far. Its owner (the File Reader window) holds it; the reader only sets the flag and appends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mbx::reader {

struct SearchState {
    // True once a search step found no further match (or the file cannot be searched at all).
    bool endOfSearch = false;
    // Offsets of the reported matches, in the order found (increasing within one file).
    std::vector<std::uint64_t> offsets;

    // The offsets text: every offset in decimal followed by "|", e.g. "0|22|"; empty when none.
    std::string offsetsText() const;
    // Clears the flag and empties the offsets, for a search of another file.
    void reset() {
        endOfSearch = false;
        offsets.clear();
    }
};

} // namespace mbx::reader
