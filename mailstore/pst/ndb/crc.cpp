#include "mailstore/pst/ndb/crc.h"

#include <array>

namespace mbx::pst {
namespace {

// Eight tables for the slicing-by-8 method: table k advances the CRC over a byte followed by k
// zero bytes, so eight input bytes are folded in with eight lookups.
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeTables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr auto kTables = makeTables();
static_assert(kTables[0][1] == 0x77073096u);
static_assert(kTables[1][1] == 0x191B3141u); // the second table of [MS-PST] §5.3

} // namespace

std::uint32_t crc32(ByteView data, std::uint32_t seed) {
    std::uint32_t crc = seed;
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n >= 8) {
        const std::uint32_t lo = crc ^ get32(p);
        const std::uint32_t hi = get32(p + 4);
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
              kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
              kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = kTables[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace mbx::pst
