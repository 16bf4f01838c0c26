#include "mailstore/pst/ndb/crc.h"

#include <array>

namespace mbx::pst {
namespace {

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[i] = c;
    }
    return t;
}
constexpr auto kTable = makeTable();
static_assert(kTable[1] == 0x77073096u);

} // namespace

std::uint32_t crc32(ByteView data, std::uint32_t seed) {
    std::uint32_t crc = seed;
    for (std::uint8_t b : data)
        crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace mbx::pst
