// Eudora's Windows table of contents built byte by byte at the offsets Eudora wrote, independently
// of the program's structures: a 104-byte header (version at 0, mailbox size + 1 at 96, count at
// 102), 218-byte records (offset 0, length 4, seconds 8, state 12, priority 16, label 186).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mbx::testing {

using TocBytes = std::vector<std::uint8_t>;

inline void putNumber(TocBytes& b, std::size_t at, std::uint64_t v, int size, bool bigEndian) {
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (bigEndian ? size - 1 - i : i);
        b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> shift);
    }
}

// One record: the message it lists (its number in the mailbox) and what Eudora kept of it.
struct TocRec {
    std::size_t message;
    int state, priority, label;
};

// The table of a mailbox of `size` bytes whose messages start at `starts`.
inline TocBytes windowsToc(const std::vector<std::uint64_t>& starts, std::uint64_t size,
                           const std::vector<TocRec>& recs, int version = 0x31) {
    TocBytes b(104 + 218 * recs.size());
    putNumber(b, 0, static_cast<std::uint64_t>(version), 2, false);
    putNumber(b, 96, size + 1, 4, false);
    putNumber(b, 102, recs.size(), 2, false);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::size_t r = 104 + 218 * i;
        const std::size_t k = recs[i].message;
        const std::uint64_t end = k + 1 < starts.size() ? starts[k + 1] : size;
        putNumber(b, r, starts[k], 4, false);
        putNumber(b, r + 4, end - starts[k], 4, false);
        putNumber(b, r + 8, 978307200, 4, false);
        putNumber(b, r + 12, static_cast<std::uint64_t>(recs[i].state), 2, false);
        putNumber(b, r + 16, static_cast<std::uint64_t>(recs[i].priority), 1, false);
        putNumber(b, r + 186, static_cast<std::uint64_t>(recs[i].label), 2, false);
    }
    return b;
}

} // namespace mbx::testing
