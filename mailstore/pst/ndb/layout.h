// Identifiers, sizes and the placement of the allocation-map pages of a Unicode PST
// ([MS-PST] §2.2.2.1–2.2.2.7).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace mbx::pst {

// A failure of the PST code. `code()` holds the system's error when a file operation failed
// (a full device is std::errc::no_space_on_device), and is empty for a structural problem.
class PstError : public std::runtime_error {
public:
    explicit PstError(const std::string& what, std::error_code code = {})
        : std::runtime_error(what), code_(code) {}
    const std::error_code& code() const noexcept { return code_; }

private:
    std::error_code code_;
};

using Nid = std::uint32_t;
using Bid = std::uint64_t;

enum class NidType : std::uint8_t {
    Hid = 0x00,
    Internal = 0x01,
    NormalFolder = 0x02,
    SearchFolder = 0x03,
    NormalMessage = 0x04,
    Attachment = 0x05,
    SearchUpdateQueue = 0x06,
    SearchCriteria = 0x07,
    AssocMessage = 0x08,
    HierarchyTable = 0x0D,
    ContentsTable = 0x0E,
    AssocContentsTable = 0x0F,
    SearchContentsTable = 0x10,
    AttachmentTable = 0x11,
    RecipientTable = 0x12,
    Ltp = 0x1F,
};

constexpr Nid makeNid(NidType type, std::uint32_t index) {
    return (index << 5) | static_cast<std::uint32_t>(type);
}
constexpr NidType nidType(Nid nid) {
    return static_cast<NidType>(nid & 0x1F);
}
constexpr std::uint32_t nidIndex(Nid nid) {
    return nid >> 5;
}
// The same object's other nodes (a folder's tables) share its index.
constexpr Nid withType(Nid nid, NidType type) {
    return makeNid(type, nidIndex(nid));
}

constexpr bool bidIsInternal(Bid bid) {
    return (bid & 2) != 0;
}

namespace nids {
inline constexpr Nid MessageStore = 0x21;
inline constexpr Nid NameToIdMap = 0x61;
inline constexpr Nid NormalFolderTemplate = 0xA1;
inline constexpr Nid SearchFolderTemplate = 0xC1;
inline constexpr Nid RootFolder = 0x122;
inline constexpr Nid SearchManagementQueue = 0x1E1;
inline constexpr Nid SearchActivityList = 0x201;
inline constexpr Nid SearchDomainObject = 0x261;
inline constexpr Nid HierarchyTableTemplate = 0x60D;
inline constexpr Nid ContentsTableTemplate = 0x60E;
inline constexpr Nid AssocContentsTableTemplate = 0x60F;
inline constexpr Nid SearchContentsTableTemplate = 0x610;
inline constexpr Nid AttachmentTable = 0x671;
inline constexpr Nid RecipientTable = 0x692;
inline constexpr Nid SpamSearchFolder = 0x2223;
inline constexpr Nid IpmSubtree = 0x8022;
inline constexpr Nid SearchRoot = 0x8042;
inline constexpr Nid DeletedItems = 0x8062;
inline constexpr Nid CommonViews = 0x8082;
} // namespace nids

inline constexpr std::uint64_t kPageSize = 512;
inline constexpr std::uint64_t kPageDataSize = 496; // bytes before the page trailer
inline constexpr std::uint64_t kTrailerSize = 16;
inline constexpr std::uint64_t kMaxBlockSize = 8192;
inline constexpr std::uint64_t kMaxBlockData = kMaxBlockSize - kTrailerSize; // 8,176
inline constexpr std::uint64_t kHeaderSize = 564;
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint64_t kFirstAMapOffset = 0x4400;
// One AMap page maps 496 * 8 units of 64 bytes, starting at the page itself.
inline constexpr std::uint64_t kSectionSize = kPageDataSize * 8 * 64; // 253,952
inline constexpr std::uint64_t kUnitSize = 64;
inline constexpr std::uint64_t kUnitsPerSection = kSectionSize / kUnitSize; // 3,968

enum class PageType : std::uint8_t {
    Bbt = 0x80,
    Nbt = 0x81,
    FMap = 0x82,
    PMap = 0x83,
    AMap = 0x84,
    FPMap = 0x85,
    DList = 0x86,
};

// Section k starts with its AMap page; every eighth section also holds a PMap, and the FMap
// (every 496 sections from 128) and FPMap (every 31,744 sections from 8,192) follow the PMap.
constexpr std::uint64_t sectionOffset(std::uint64_t k) {
    return kFirstAMapOffset + k * kSectionSize;
}
constexpr bool sectionHasPMap(std::uint64_t k) {
    return k % 8 == 0;
}
constexpr bool sectionHasFMap(std::uint64_t k) {
    return k >= 128 && (k - 128) % 496 == 0;
}
constexpr bool sectionHasFPMap(std::uint64_t k) {
    return k >= 8192 && (k - 8192) % 31744 == 0;
}
// Number of map pages at the start of section k.
constexpr unsigned sectionMapPages(std::uint64_t k) {
    return 1u + (sectionHasPMap(k) ? 1u : 0u) +
           ((sectionHasFMap(k) || sectionHasFPMap(k)) ? 1u : 0u);
}
constexpr std::uint64_t sectionOf(std::uint64_t ib) {
    return (ib - kFirstAMapOffset) / kSectionSize;
}

// Stored size of a block whose trailer says cb: data, then padding, then the 16-byte trailer.
constexpr std::uint64_t blockStoredSize(std::uint64_t cb) {
    return (cb + kTrailerSize + kUnitSize - 1) / kUnitSize * kUnitSize;
}

} // namespace mbx::pst
