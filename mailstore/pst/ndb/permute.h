// Permutative encoding of external data blocks ([MS-PST] §5.1, bCryptMethod 1).
#pragma once

#include "mailstore/pst/ndb/bytes.h"

namespace mbx::pst {

void permuteEncode(std::uint8_t* data, std::size_t size);
void permuteDecode(std::uint8_t* data, std::size_t size);

} // namespace mbx::pst
