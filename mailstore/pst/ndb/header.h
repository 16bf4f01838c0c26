// The file header and its ROOT structure ([MS-PST] §2.2.2.5, §2.2.2.6), Unicode layout.
#pragma once

#include "mailstore/pst/ndb/bytes.h"
#include "mailstore/pst/ndb/layout.h"

#include <array>

namespace mbx::pst {

struct BlockRef {
    Bid bid = 0;
    std::uint64_t ib = 0;
};

struct Header {
    std::uint16_t version = 23;
    std::uint16_t clientVersion = 19;
    Bid nextPageBid = 0;
    std::uint32_t unique = 0;
    std::array<std::uint32_t, 32> rgnid{};
    std::uint64_t fileEof = 0;
    std::uint64_t lastAMap = 0;
    std::uint64_t amapFree = 0;
    BlockRef nbt;
    BlockRef bbt;
    std::uint8_t amapValid = 2;
    std::uint8_t cryptMethod = 0;
    Bid nextBlockBid = 0;
};

inline constexpr std::uint32_t kHeaderMagic = 0x4E444221; // "!BDN"
inline constexpr std::uint16_t kClientMagicPst = 0x4D53;  // "SM"

Bytes encodeHeader(const Header& h);

struct DecodedHeader {
    Header header;
    bool magicOk = false;
    bool clientMagicOk = false;
    bool partialCrcOk = false;
    bool fullCrcOk = false;
    bool sentinelOk = false;
};
// Reads the fields of a 564-byte header image; the flags say which integrity checks passed.
DecodedHeader decodeHeader(ByteView image);

} // namespace mbx::pst
