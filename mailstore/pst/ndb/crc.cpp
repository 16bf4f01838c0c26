#include "mailstore/pst/ndb/crc.h"

#include <array>

namespace mbx::pst {
namespace {

// Sixteen tables for the slicing method: table k advances the CRC over a byte followed by k
// zero bytes, so sixteen input bytes are folded in with sixteen independent lookups.
constexpr std::array<std::array<std::uint32_t, 256>, 16> makeTables() {
    std::array<std::array<std::uint32_t, 256>, 16> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 16; ++k)
        for (std::uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr auto kTables = makeTables();
static_assert(kTables[0][1] == 0x77073096u);
static_assert(kTables[1][1] == 0x191B3141u); // the second table of [MS-PST] §5.3

} // namespace

std::uint32_t crc32(ByteView data, std::uint32_t initial) {
    std::uint32_t crc = initial;
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n >= 16) {
        const std::uint32_t a = crc ^ readLe32(p);
        const std::uint32_t b = readLe32(p + 4);
        const std::uint32_t c = readLe32(p + 8);
        const std::uint32_t d = readLe32(p + 12);
        crc = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
              kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
              kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
              kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
              kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
              kTables[0][d >> 24];
        p += 16;
        n -= 16;
    }
    while (n >= 8) {
        const std::uint32_t lo = crc ^ readLe32(p);
        const std::uint32_t hi = readLe32(p + 4);
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
