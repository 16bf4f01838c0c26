#include "mailstore/pst/ndb/disk.h"

#include "mailstore/pst/ndb/crc.h"

namespace mbx::pst {

Bytes Header::encode() const {
    Image i{};
    i.dwMagic.set(kMagic);
    i.wMagicClient.set(kClientMagic);
    i.wVer.set(version);
    i.wVerClient.set(clientVersion);
    i.bPlatformCreate = kPlatform;
    i.bPlatformAccess = kPlatform;
    i.bidNextP.set(nextPageBid);
    i.dwUnique.set(unique);
    for (std::size_t k = 0; k < rgnid.size(); ++k)
        i.rgnid[k].set(rgnid[k]);
    i.root.ibFileEof.set(fileEof);
    i.root.ibAMapLast.set(lastAMap);
    i.root.cbAMapFree.set(amapFree);
    i.root.cbPMapFree.set(0);
    i.root.BREFNBT = nbt.image();
    i.root.BREFBBT = bbt.image();
    i.root.fAMapValid = amapValid;
    i.rgbFM.fill(kDeprecatedMapByte);
    i.rgbFP.fill(kDeprecatedMapByte);
    i.bSentinel = kSentinel;
    i.bCryptMethod = cryptMethod;
    i.bidNextB.set(nextBlockBid);
    Bytes b(sizeof(Image));
    storeImage(b.data(), i);
    const std::uint8_t* crcStart = b.data() + kCrcStart;
    writeLe32(b.data() + offsetof(Image, dwCRCPartial), crc32(ByteView(crcStart, kPartialCrcSize)));
    writeLe32(b.data() + offsetof(Image, dwCRCFull), crc32(ByteView(crcStart, kFullCrcSize)));
    return b;
}

Header::Decoded Header::decode(ByteView image) {
    Decoded d;
    if (image.size() < sizeof(Image))
        return d;
    const Image i = loadImage<Image>(image.data());
    const std::uint8_t* crcStart = image.data() + kCrcStart;
    d.magicOk = i.dwMagic.get() == kMagic;
    d.clientMagicOk = i.wMagicClient.get() == kClientMagic;
    d.partialCrcOk = i.dwCRCPartial.get() == crc32(ByteView(crcStart, kPartialCrcSize));
    d.fullCrcOk = i.dwCRCFull.get() == crc32(ByteView(crcStart, kFullCrcSize));
    d.sentinelOk = i.bSentinel == kSentinel;
    Header& h = d.header;
    h.version = i.wVer.get();
    h.clientVersion = i.wVerClient.get();
    h.nextPageBid = i.bidNextP.get();
    h.unique = i.dwUnique.get();
    for (std::size_t k = 0; k < h.rgnid.size(); ++k)
        h.rgnid[k] = i.rgnid[k].get();
    h.fileEof = i.root.ibFileEof.get();
    h.lastAMap = i.root.ibAMapLast.get();
    h.amapFree = i.root.cbAMapFree.get();
    h.nbt = BlockRef::from(i.root.BREFNBT);
    h.bbt = BlockRef::from(i.root.BREFBBT);
    h.amapValid = i.root.fAMapValid;
    h.cryptMethod = i.bCryptMethod;
    h.nextBlockBid = i.bidNextB.get();
    return d;
}

std::uint16_t pageSignature(PageType type, Bid bid, std::uint64_t ib) {
    const bool mapPage = type == PageType::AMap || type == PageType::PMap ||
                         type == PageType::FMap || type == PageType::FPMap;
    return mapPage ? 0 : blockSignature(ib, bid);
}

void PageTrailer::encode(std::uint8_t* at) const {
    Image i{};
    i.ptype = ptype;
    i.ptypeRepeat = ptypeRepeat;
    i.wSig.set(signature);
    i.dwCRC.set(crc);
    i.bid.set(bid);
    storeImage(at, i);
}

PageTrailer PageTrailer::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {i.ptype, i.ptypeRepeat, i.wSig.get(), i.dwCRC.get(), i.bid.get()};
}

PageTrailer PageTrailer::of(PageType type, Bid bid, std::uint64_t ib, const std::uint8_t* page) {
    const auto t = static_cast<std::uint8_t>(type);
    return {t, t, pageSignature(type, bid, ib), crc32(ByteView(page, kPageDataSize)), bid};
}

void PageTrailer::seal(std::uint8_t* page, PageType type, Bid bid, std::uint64_t ib) {
    of(type, bid, ib, page).encode(page + kPageDataSize);
}

void BlockTrailer::encode(std::uint8_t* at) const {
    Image i{};
    i.cb.set(cb);
    i.wSig.set(signature);
    i.dwCRC.set(crc);
    i.bid.set(bid);
    storeImage(at, i);
}

BlockTrailer BlockTrailer::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {i.cb.get(), i.wSig.get(), i.dwCRC.get(), i.bid.get()};
}

void BTPage::encode(std::uint8_t* page) const {
    CountsImage i{};
    i.cEnt = cEnt;
    i.cEntMax = cEntMax;
    i.cbEnt = cbEnt;
    i.cLevel = cLevel;
    storeImage(page + offsetof(Image, counts), i);
}

BTPage BTPage::decode(const std::uint8_t* page) {
    const auto i = loadImage<CountsImage>(page + offsetof(Image, counts));
    return {i.cEnt, i.cEntMax, i.cbEnt, i.cLevel};
}

void BTEntry::encode(std::uint8_t* at) const {
    Image i{};
    i.btkey.set(key);
    i.BREF = ref.image();
    storeImage(at, i);
}

BTEntry BTEntry::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {i.btkey.get(), BlockRef::from(i.BREF)};
}

void NbtEntry::encode(std::uint8_t* at) const {
    Image i{};
    i.nid.set(nid);
    i.bidData.set(data);
    i.bidSub.set(sub);
    i.nidParent.set(parent);
    storeImage(at, i);
}

NbtEntry NbtEntry::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {static_cast<Nid>(i.nid.get()), i.bidData.get(), i.bidSub.get(), i.nidParent.get()};
}

void BbtEntry::encode(std::uint8_t* at) const {
    Image i{};
    i.BREF = BlockRef{bid, ib}.image();
    i.cb.set(cb);
    i.cRef.set(cRef);
    storeImage(at, i);
}

BbtEntry BbtEntry::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    const BlockRef ref = BlockRef::from(i.BREF);
    return {ref.bid, ref.ib, i.cb.get(), i.cRef.get()};
}

void InternalBlockHead::encode(std::uint8_t* at) const {
    Image i{};
    i.btype = btype;
    i.cLevel = cLevel;
    i.cEnt.set(cEnt);
    i.lcbTotal.set(lcbTotal);
    storeImage(at, i);
}

InternalBlockHead InternalBlockHead::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {i.btype, i.cLevel, i.cEnt.get(), i.lcbTotal.get()};
}

void SubnodeEntry::encode(std::uint8_t* at) const {
    Image i{};
    i.nid.set(nid);
    i.bidData.set(data);
    i.bidSub.set(sub);
    storeImage(at, i);
}

SubnodeEntry SubnodeEntry::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {static_cast<Nid>(i.nid.get()), i.bidData.get(), i.bidSub.get()};
}

void SubnodeIndexEntry::encode(std::uint8_t* at) const {
    Image i{};
    i.nid.set(nid);
    i.bid.set(bid);
    storeImage(at, i);
}

SubnodeIndexEntry SubnodeIndexEntry::decode(const std::uint8_t* at) {
    const Image i = loadImage<Image>(at);
    return {static_cast<Nid>(i.nid.get()), i.bid.get()};
}

} // namespace mbx::pst
