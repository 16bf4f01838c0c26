// The CRC and block/page signature of [MS-PST] §5.3 and §5.5.
#pragma once

#include "mailstore/pst/ndb/bytes.h"

namespace mbx::pst {

// Reflected CRC-32 (polynomial 0xEDB88320) starting from 0 and with no final inversion: the variant
// PST files use, which differs from zlib's crc32 on every input.
std::uint32_t crc32(ByteView data, std::uint32_t initial = 0);

// wSig of a block or BT page trailer, derived from its file offset and BID.
constexpr std::uint16_t blockSignature(std::uint64_t ib, std::uint64_t bid) {
    const std::uint32_t x = static_cast<std::uint32_t>(ib ^ bid);
    return static_cast<std::uint16_t>((x >> 16) ^ (x & 0xFFFF));
}

} // namespace mbx::pst
