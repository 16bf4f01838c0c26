#include "mailstore/pst/ndb/maps.h"

#include <algorithm>

namespace mbx::pst {

std::uint8_t longestFreeRun(const std::array<std::uint8_t, kPageDataSize>& bits) {
    unsigned best = 0;
    unsigned run = 0;
    for (std::size_t u = 0; u < kUnitsPerSection; ++u) {
        const bool used = bits[u / 8] & (0x80u >> (u % 8));
        run = used ? 0 : run + 1;
        best = std::max(best, run);
        if (best >= 255)
            return 255;
    }
    return static_cast<std::uint8_t>(best);
}

Bytes fmapBody(const FileSink& sink, std::uint64_t m) {
    Bytes body(kPageDataSize, 0);
    const std::uint64_t first = 128 + 496 * m;
    for (std::uint64_t i = 0; i < kPageDataSize; ++i) {
        const std::uint64_t k = first + i;
        if (k >= sink.sectionCount())
            break;
        body[i] = longestFreeRun(sink.amap(k));
    }
    return body;
}

} // namespace mbx::pst
