// The structures of the node database as they lie in the file ([MS-PST] §2.2.2, Unicode layout),
// each declared once: a value type in host integers, its `Image` (the bytes in file order, every
// offset checked below against the format at compile time), and encode/decode side by side. The
// writer, the reader and the structural checker all go through these types.
#pragma once

#include "mailstore/mapi/byte_order.h"
#include "mailstore/pst/ndb/bytes.h"
#include "mailstore/pst/ndb/layout.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace mbx::pst {

template <typename Image> Image loadImage(const std::uint8_t* at) {
    static_assert(std::is_trivially_copyable_v<Image> && alignof(Image) == 1);
    Image image;
    std::memcpy(&image, at, sizeof image);
    return image;
}
template <typename Image> void storeImage(std::uint8_t* at, const Image& image) {
    static_assert(std::is_trivially_copyable_v<Image> && alignof(Image) == 1);
    std::memcpy(at, &image, sizeof image);
}

// BREF (§2.2.2.4): where a block or page is and which BID it has.
struct BlockRef {
    Bid bid = 0;
    std::uint64_t ib = 0;

    struct Image {
        Le64 bid;
        Le64 ib;
    };
    Image image() const {
        Image i;
        i.bid.set(bid);
        i.ib.set(ib);
        return i;
    }
    static BlockRef from(const Image& i) { return {i.bid.get(), i.ib.get()}; }
};

// HEADER (§2.2.2.6) with its ROOT (§2.2.2.5). Fields the program never varies (platform bytes,
// the deprecated free maps, the sentinel) are written as the format fixes them.
struct Header {
    std::uint16_t version = 23; // wVer: Unicode
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

    static constexpr std::uint32_t kMagic = 0x4E444221;      // "!BDN"
    static constexpr std::uint16_t kClientMagic = 0x4D53;    // "SM", a PST (not an OST)
    static constexpr std::uint8_t kPlatform = 0x01;          // bPlatformCreate, bPlatformAccess
    static constexpr std::uint8_t kSentinel = 0x80;          // bSentinel
    static constexpr std::uint8_t kDeprecatedMapByte = 0xFF; // every byte of rgbFM and rgbFP

    struct RootImage {
        Le32 dwReserved;
        Le64 ibFileEof;
        Le64 ibAMapLast;
        Le64 cbAMapFree;
        Le64 cbPMapFree;
        BlockRef::Image BREFNBT;
        BlockRef::Image BREFBBT;
        std::uint8_t fAMapValid;
        std::uint8_t bReserved;
        Le16 wReserved;
    };
    struct Image {
        Le32 dwMagic;
        Le32 dwCRCPartial;
        Le16 wMagicClient;
        Le16 wVer;
        Le16 wVerClient;
        std::uint8_t bPlatformCreate;
        std::uint8_t bPlatformAccess;
        Le32 dwReserved1;
        Le32 dwReserved2;
        Le64 bidUnused;
        Le64 bidNextP;
        Le32 dwUnique;
        std::array<Le32, 32> rgnid;
        Le64 qwUnused;
        RootImage root;
        Le32 dwAlign;
        std::array<std::uint8_t, 128> rgbFM;
        std::array<std::uint8_t, 128> rgbFP;
        std::uint8_t bSentinel;
        std::uint8_t bCryptMethod;
        std::array<std::uint8_t, 2> rgbReserved;
        Le64 bidNextB;
        Le32 dwCRCFull;
        std::array<std::uint8_t, 3> rgbReserved2;
        std::uint8_t bReserved;
        std::array<std::uint8_t, 32> rgbReserved3;
    };
    // dwCRCPartial covers the 471 bytes from wMagicClient; dwCRCFull everything up to itself.
    static constexpr std::size_t kCrcStart = 8;
    static constexpr std::size_t kPartialCrcSize = 471;
    static constexpr std::size_t kFullCrcSize = 516;

    // The 564-byte image with both CRCs.
    Bytes encode() const;
    struct Decoded;
    // Reads the fields of a header image; the flags say which integrity checks passed.
    static Decoded decode(ByteView image);
};

struct Header::Decoded {
    Header header;
    bool magicOk = false;
    bool clientMagicOk = false;
    bool partialCrcOk = false;
    bool fullCrcOk = false;
    bool sentinelOk = false;
};
using DecodedHeader = Header::Decoded;

static_assert(sizeof(Header::RootImage) == 72);
static_assert(offsetof(Header::RootImage, ibFileEof) == 4);
static_assert(offsetof(Header::RootImage, BREFNBT) == 36);
static_assert(offsetof(Header::RootImage, BREFBBT) == 52);
static_assert(offsetof(Header::RootImage, fAMapValid) == 68);
static_assert(sizeof(Header::Image) == kHeaderSize);
static_assert(offsetof(Header::Image, wMagicClient) == Header::kCrcStart);
static_assert(offsetof(Header::Image, bidNextP) == 32);
static_assert(offsetof(Header::Image, dwUnique) == 40);
static_assert(offsetof(Header::Image, rgnid) == 44);
static_assert(offsetof(Header::Image, root) == 180);
static_assert(offsetof(Header::Image, rgbFM) == 256);
static_assert(offsetof(Header::Image, bSentinel) == 512);
static_assert(offsetof(Header::Image, bidNextB) == 516);
static_assert(offsetof(Header::Image, dwCRCFull) == Header::kCrcStart + Header::kFullCrcSize);

// PAGETRAILER (§2.2.2.7.1): the last 16 bytes of every 512-byte page.
struct PageTrailer {
    std::uint8_t ptype = 0;
    std::uint8_t ptypeRepeat = 0;
    std::uint16_t signature = 0;
    std::uint32_t crc = 0; // of the 496 bytes before the trailer
    Bid bid = 0;

    struct Image {
        std::uint8_t ptype;
        std::uint8_t ptypeRepeat;
        Le16 wSig;
        Le32 dwCRC;
        Le64 bid;
    };
    void encode(std::uint8_t* at) const;
    static PageTrailer decode(const std::uint8_t* at);

    // The trailer a page of `type` and `bid` at offset `ib` carries for its first 496 bytes.
    static PageTrailer of(PageType type, Bid bid, std::uint64_t ib, const std::uint8_t* page);
    // Written into the last 16 bytes of a 512-byte page.
    static void seal(std::uint8_t* page, PageType type, Bid bid, std::uint64_t ib);
};
static_assert(sizeof(PageTrailer::Image) == kTrailerSize);
static_assert(offsetof(PageTrailer::Image, dwCRC) == 4 && offsetof(PageTrailer::Image, bid) == 8);

// wSig of pages (§5.5): the allocation-map pages carry none; every other page is signed like a
// block, from its offset and BID.
std::uint16_t pageSignature(PageType type, Bid bid, std::uint64_t ib);

// BLOCKTRAILER (§2.2.2.8.1): the last 16 bytes of every block, after its data and padding.
struct BlockTrailer {
    std::uint16_t cb = 0; // bytes of data
    std::uint16_t signature = 0;
    std::uint32_t crc = 0; // of the data bytes
    Bid bid = 0;

    struct Image {
        Le16 cb;
        Le16 wSig;
        Le32 dwCRC;
        Le64 bid;
    };
    void encode(std::uint8_t* at) const;
    static BlockTrailer decode(const std::uint8_t* at);
};
static_assert(sizeof(BlockTrailer::Image) == kTrailerSize);
static_assert(offsetof(BlockTrailer::Image, dwCRC) == 4 && offsetof(BlockTrailer::Image, bid) == 8);

// AMAPPAGE, PMAPPAGE, FMAPPAGE, FPMAPPAGE and DLISTPAGE (§2.2.2.7.2 to §2.2.2.7.6): 496 bytes
// of map (or of the density list), then the page trailer.
struct MapPage {
    struct Image {
        std::array<std::uint8_t, kPageDataSize> rgb;
        PageTrailer::Image pageTrailer;
    };
};
static_assert(sizeof(MapPage::Image) == kPageSize);
static_assert(offsetof(MapPage::Image, pageTrailer) == kPageDataSize);

// BTPAGE (§2.2.2.7.7.1): entries of one size from the start of the page, then their counts and
// level, then the page trailer. Every entry starts with its 8-byte key.
struct BTPage {
    std::uint8_t cEnt = 0;
    std::uint8_t cEntMax = 0;
    std::uint8_t cbEnt = 0;
    std::uint8_t cLevel = 0; // 0 for a leaf

    static constexpr std::size_t kEntriesSize = 488;

    struct CountsImage {
        std::uint8_t cEnt;
        std::uint8_t cEntMax;
        std::uint8_t cbEnt;
        std::uint8_t cLevel;
        Le32 dwPadding;
    };
    struct Image {
        std::array<std::uint8_t, kEntriesSize> rgentries;
        CountsImage counts;
        PageTrailer::Image pageTrailer;
    };
    // Writes and reads the counts and level after the entries of a page (its first 496 bytes
    // suffice), leaving the entries alone.
    void encode(std::uint8_t* page) const;
    static BTPage decode(const std::uint8_t* page);

    static std::uint64_t key(const std::uint8_t* entry) { return readLe64(entry); }
};
static_assert(sizeof(BTPage::Image) == kPageSize);
static_assert(offsetof(BTPage::Image, counts) == BTPage::kEntriesSize);
static_assert(offsetof(BTPage::Image, counts) + offsetof(BTPage::CountsImage, cLevel) == 491);
static_assert(offsetof(BTPage::Image, pageTrailer) == kPageDataSize);

// BTENTRY (§2.2.2.7.7.2): an entry of an intermediate page, the first key below it and the page.
struct BTEntry {
    std::uint64_t key = 0;
    BlockRef ref;

    static constexpr std::size_t kSize = 24;
    struct Image {
        Le64 btkey;
        BlockRef::Image BREF;
    };
    void encode(std::uint8_t* at) const;
    static BTEntry decode(const std::uint8_t* at);
};
static_assert(sizeof(BTEntry::Image) == BTEntry::kSize);

// NBTENTRY (§2.2.2.7.7.4): a node; the NID is stored in 8 bytes.
struct NbtEntry {
    Nid nid = 0;
    Bid data = 0;
    Bid sub = 0;
    Nid parent = 0;

    static constexpr std::size_t kSize = 32;
    struct Image {
        Le64 nid;
        Le64 bidData;
        Le64 bidSub;
        Le32 nidParent;
        Le32 dwPadding;
    };
    void encode(std::uint8_t* at) const;
    static NbtEntry decode(const std::uint8_t* at);
};
static_assert(sizeof(NbtEntry::Image) == NbtEntry::kSize);
static_assert(offsetof(NbtEntry::Image, nidParent) == 24);

// BBTENTRY (§2.2.2.7.7.3): a block, its size and its reference count.
struct BbtEntry {
    Bid bid = 0;
    std::uint64_t ib = 0;
    std::uint16_t cb = 0;
    std::uint16_t cRef = 0;

    static constexpr std::size_t kSize = 24;
    struct Image {
        BlockRef::Image BREF;
        Le16 cb;
        Le16 cRef;
        Le32 dwPadding;
    };
    void encode(std::uint8_t* at) const;
    static BbtEntry decode(const std::uint8_t* at);
};
static_assert(sizeof(BbtEntry::Image) == BbtEntry::kSize);
static_assert(offsetof(BbtEntry::Image, cb) == 16 && offsetof(BbtEntry::Image, cRef) == 18);

// The 8 bytes that open every internal block: XBLOCK and XXBLOCK (§2.2.2.8.3.2.1-2, btype 0x01,
// followed by BIDs), SLBLOCK and SIBLOCK (§2.2.2.8.3.3.1.1-2, btype 0x02, followed by SLENTRY or
// SIENTRY). lcbTotal is the data size under an XBLOCK or XXBLOCK and padding in the others.
struct InternalBlockHead {
    std::uint8_t btype = 0;
    std::uint8_t cLevel = 0;
    std::uint16_t cEnt = 0;
    std::uint32_t lcbTotal = 0;

    static constexpr std::uint8_t kDataTree = 0x01;    // XBLOCK (level 1), XXBLOCK (level 2)
    static constexpr std::uint8_t kSubnodeTree = 0x02; // SLBLOCK (level 0), SIBLOCK (level 1)
    static constexpr std::size_t kSize = 8;

    struct Image {
        std::uint8_t btype;
        std::uint8_t cLevel;
        Le16 cEnt;
        Le32 lcbTotal;
    };
    void encode(std::uint8_t* at) const;
    static InternalBlockHead decode(const std::uint8_t* at);
};
static_assert(sizeof(InternalBlockHead::Image) == InternalBlockHead::kSize);

// SLENTRY (§2.2.2.8.3.3.1.1): a subnode, its data and its own subnode tree.
struct SubnodeEntry {
    Nid nid = 0;
    Bid data = 0;
    Bid sub = 0;

    static constexpr std::size_t kSize = 24;
    struct Image {
        Le64 nid;
        Le64 bidData;
        Le64 bidSub;
    };
    void encode(std::uint8_t* at) const;
    static SubnodeEntry decode(const std::uint8_t* at);
};
static_assert(sizeof(SubnodeEntry::Image) == SubnodeEntry::kSize);

// SIENTRY (§2.2.2.8.3.3.1.2): the first NID of an SLBLOCK and its BID.
struct SubnodeIndexEntry {
    Nid nid = 0;
    Bid bid = 0;

    static constexpr std::size_t kSize = 16;
    struct Image {
        Le64 nid;
        Le64 bid;
    };
    void encode(std::uint8_t* at) const;
    static SubnodeIndexEntry decode(const std::uint8_t* at);
};
static_assert(sizeof(SubnodeIndexEntry::Image) == SubnodeIndexEntry::kSize);

} // namespace mbx::pst
