// Contents of the deprecated free-space map pages, kept because older Outlook versions use them.
#pragma once

#include "mailstore/pst/ndb/file_sink.h"

namespace mbx::pst {

// Longest run of free 64-byte units in one AMap bitmap, capped at 255.
std::uint8_t longestFreeRun(const std::array<std::uint8_t, kPageDataSize>& bits);
// FMap page m: one byte per AMap for the 496 AMaps starting at AMap 128 + 496·m.
Bytes fmapBody(const FileSink& sink, std::uint64_t m);

} // namespace mbx::pst
