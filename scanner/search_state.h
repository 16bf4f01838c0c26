// What the separator search hands to the conversion run: the end-of-search flag and the offsets
// found so far. One object is shared by the run and the reader it drives (no program-wide
// values); the run resets it before each mailbox, the reader only sets the flag and appends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mbx::scanner {

struct SearchState {
    // True once a search step found no further match (or the file cannot be searched at all).
    bool endOfSearch = false;
    // Offsets of the reported matches, in the order found (increasing within one file).
    std::vector<std::uint64_t> offsets;

    // The offsets text: every offset in decimal followed by "|", e.g. "0|22|"; empty when none.
    std::string offsetsText() const;
    // Clears the flag and empties the offsets, as the run does before each mailbox.
    void reset() {
        endOfSearch = false;
        offsets.clear();
    }
};

// Reads an offsets text back: drops the final "|" and splits at every "|"; "" gives no offsets.
// Pieces that are not decimal numbers are skipped.
std::vector<std::uint64_t> parseOffsetsText(const std::string& text);

} // namespace mbx::scanner
