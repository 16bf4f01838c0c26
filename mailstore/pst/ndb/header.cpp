#include "mailstore/pst/ndb/header.h"

#include "mailstore/pst/ndb/crc.h"

#include <algorithm>

namespace mbx::pst {

Bytes encodeHeader(const Header& h) {
    Bytes b(kHeaderSize, 0);
    std::uint8_t* p = b.data();
    put32(p + 0, kHeaderMagic);
    put16(p + 8, kClientMagicPst);
    put16(p + 10, h.version);
    put16(p + 12, h.clientVersion);
    p[14] = 1; // bPlatformCreate
    p[15] = 1; // bPlatformAccess
    put64(p + 32, h.nextPageBid);
    put32(p + 40, h.unique);
    for (std::size_t i = 0; i < 32; ++i)
        put32(p + 44 + 4 * i, h.rgnid[i]);
    put64(p + 184, h.fileEof);
    put64(p + 192, h.lastAMap);
    put64(p + 200, h.amapFree);
    put64(p + 208, 0); // cbPMapFree
    put64(p + 216, h.nbt.bid);
    put64(p + 224, h.nbt.ib);
    put64(p + 232, h.bbt.bid);
    put64(p + 240, h.bbt.ib);
    p[248] = h.amapValid;
    // rgbFM and rgbFP are deprecated and set to all 0xFF.
    std::fill(p + 256, p + 512, std::uint8_t{0xFF});
    p[512] = 0x80; // bSentinel
    p[513] = h.cryptMethod;
    put64(p + 516, h.nextBlockBid);
    put32(p + 4, crc32(ByteView(p + 8, 471)));
    put32(p + 524, crc32(ByteView(p + 8, 516)));
    return b;
}

DecodedHeader decodeHeader(ByteView image) {
    DecodedHeader d;
    if (image.size() < kHeaderSize)
        return d;
    const std::uint8_t* p = image.data();
    Header& h = d.header;
    d.magicOk = get32(p) == kHeaderMagic;
    d.clientMagicOk = get16(p + 8) == kClientMagicPst;
    d.partialCrcOk = get32(p + 4) == crc32(ByteView(p + 8, 471));
    d.fullCrcOk = get32(p + 524) == crc32(ByteView(p + 8, 516));
    d.sentinelOk = p[512] == 0x80;
    h.version = get16(p + 10);
    h.clientVersion = get16(p + 12);
    h.nextPageBid = get64(p + 32);
    h.unique = get32(p + 40);
    for (std::size_t i = 0; i < 32; ++i)
        h.rgnid[i] = get32(p + 44 + 4 * i);
    h.fileEof = get64(p + 184);
    h.lastAMap = get64(p + 192);
    h.amapFree = get64(p + 200);
    h.nbt = {get64(p + 216), get64(p + 224)};
    h.bbt = {get64(p + 232), get64(p + 240)};
    h.amapValid = p[248];
    h.cryptMethod = p[513];
    h.nextBlockBid = get64(p + 516);
    return d;
}

} // namespace mbx::pst
