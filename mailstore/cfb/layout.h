// The structures of a compound file as they lie on disk ([MS-CFB] §2.2, §2.6), version 3 with
// 512-byte sectors and 64-byte mini sectors: the file header and the directory entry, each an
// image of bytes whose member offsets are the format's offsets (checked below at compile time).
#pragma once

#include "mailstore/mapi/byte_order.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace mbx::cfb {

using Clsid = std::array<std::uint8_t, 16>;

inline constexpr std::uint32_t kSectorShift = 9;
inline constexpr std::uint32_t kSectorSize = 1u << kSectorShift;
inline constexpr std::uint32_t kMiniSectorShift = 6;
inline constexpr std::uint32_t kMiniSectorSize = 1u << kMiniSectorShift;
// Streams shorter than this live in the mini stream.
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint32_t kEntriesPerFatSector = kSectorSize / 4;
inline constexpr std::uint32_t kHeaderDifatEntries = 109;
// A DIFAT sector lists 127 FAT sectors; its last entry chains to the next DIFAT sector.
inline constexpr std::uint32_t kFatSectorsPerDifatSector = kEntriesPerFatSector - 1;
inline constexpr std::uint32_t kDirectoryEntrySize = 128;
inline constexpr std::uint32_t kEntriesPerDirectorySector = kSectorSize / kDirectoryEntrySize;
// Version 3 keeps stream sizes below 2 GiB.
inline constexpr std::uint64_t kMaxStreamSize = 0x80000000u;
inline constexpr std::size_t kMaxNameLength = 31; // UTF-16 code units, the terminator not counted

// Special sector numbers (§2.1) and the "no entry" stream id.
inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFAu;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFCu;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFDu;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;

enum class ObjectType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };
enum class Color : std::uint8_t { Red = 0, Black = 1 };

// The compound file header (§2.2): the first sector of the file.
struct HeaderImage {
    std::array<std::uint8_t, 8> signature;
    Clsid clsid; // zero
    Le16 minorVersion;
    Le16 majorVersion;
    Le16 byteOrder;
    Le16 sectorShift;
    Le16 miniSectorShift;
    std::array<std::uint8_t, 6> reserved;
    Le32 directorySectors; // zero in version 3
    Le32 fatSectors;
    Le32 firstDirectorySector;
    Le32 transactionSignature;
    Le32 miniStreamCutoff;
    Le32 firstMiniFatSector;
    Le32 miniFatSectors;
    Le32 firstDifatSector;
    Le32 difatSectors;
    std::array<Le32, kHeaderDifatEntries> difat;
};

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                           0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::uint16_t kMinorVersion = 0x003E;
inline constexpr std::uint16_t kMajorVersion = 3;
inline constexpr std::uint16_t kByteOrder = 0xFFFE;

// One directory entry (§2.6): a storage, a stream or the root storage.
struct DirectoryEntryImage {
    std::array<Le16, 32> name; // UTF-16, terminated
    Le16 nameLength;           // in bytes, the terminator included
    std::uint8_t objectType;
    std::uint8_t color;
    Le32 leftSibling;
    Le32 rightSibling;
    Le32 child;
    Clsid clsid;
    Le32 stateBits;
    Le64 creationTime;
    Le64 modifiedTime;
    Le32 startSector;
    Le64 size;
};

static_assert(std::is_trivially_copyable_v<HeaderImage> && alignof(HeaderImage) == 1);
static_assert(sizeof(HeaderImage) == kSectorSize);
static_assert(offsetof(HeaderImage, minorVersion) == 0x18);
static_assert(offsetof(HeaderImage, sectorShift) == 0x1E);
static_assert(offsetof(HeaderImage, directorySectors) == 0x28);
static_assert(offsetof(HeaderImage, fatSectors) == 0x2C);
static_assert(offsetof(HeaderImage, firstDirectorySector) == 0x30);
static_assert(offsetof(HeaderImage, miniStreamCutoff) == 0x38);
static_assert(offsetof(HeaderImage, firstMiniFatSector) == 0x3C);
static_assert(offsetof(HeaderImage, firstDifatSector) == 0x44);
static_assert(offsetof(HeaderImage, difat) == 0x4C);

static_assert(std::is_trivially_copyable_v<DirectoryEntryImage> &&
              alignof(DirectoryEntryImage) == 1);
static_assert(sizeof(DirectoryEntryImage) == kDirectoryEntrySize);
static_assert(offsetof(DirectoryEntryImage, nameLength) == 0x40);
static_assert(offsetof(DirectoryEntryImage, objectType) == 0x42);
static_assert(offsetof(DirectoryEntryImage, color) == 0x43);
static_assert(offsetof(DirectoryEntryImage, leftSibling) == 0x44);
static_assert(offsetof(DirectoryEntryImage, child) == 0x4C);
static_assert(offsetof(DirectoryEntryImage, clsid) == 0x50);
static_assert(offsetof(DirectoryEntryImage, stateBits) == 0x60);
static_assert(offsetof(DirectoryEntryImage, creationTime) == 0x64);
static_assert(offsetof(DirectoryEntryImage, startSector) == 0x74);
static_assert(offsetof(DirectoryEntryImage, size) == 0x78);

} // namespace mbx::cfb
