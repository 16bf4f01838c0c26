// Byte buffers of the on-disk structures, which are always little-endian (mapi/byte_order.h).
#pragma once

#include "mailstore/mapi/byte_order.h"

#include <cstdint>
#include <span>
#include <vector>

namespace mbx::pst {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline void appendBytes(Bytes& b, ByteView v) {
    b.insert(b.end(), v.begin(), v.end());
}

} // namespace mbx::pst
