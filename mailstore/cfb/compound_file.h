// Builds a compound file ([MS-CFB]) of storages and streams: version 3, 512-byte sectors, the
// mini stream for streams under 4,096 bytes, FAT, mini FAT and DIFAT, and each storage's children
// linked as a balanced red-black tree in the format's name order. The layout is computed once
// every entry is known, then the file is written front to back into an Output: small files are
// assembled in one buffer, large streams are passed through from the caller's memory.
#pragma once

#include "mailstore/cfb/layout.h"
#include "mailstore/cfb/output.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace mbx::cfb {

// A tree that cannot be written as a compound file (a bad or repeated name, a stream too large).
class CfbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CompoundFile {
public:
    using Id = std::uint32_t;
    static constexpr Id kRoot = 0;

    explicit CompoundFile(const Clsid& rootClsid = {});

    // Names are ASCII, 1 to 31 characters, without '/', '\', ':' or '!', unique within their
    // storage (compared without regard to case). Checked by write().
    Id addStorage(Id parent, std::string_view name, const Clsid& clsid = {});
    // A stream holding its own copy of `data`.
    void addStream(Id parent, std::string_view name, std::vector<std::uint8_t> data);
    // A stream whose bytes stay with the caller until write() returns (large values of a message
    // are written from where they are, without a copy).
    void addStreamView(Id parent, std::string_view name, std::span<const std::uint8_t> data);

    // The size of the file write() produces.
    std::uint64_t fileSize();
    void write(Output& out);

private:
    struct Entry {
        char name[kMaxNameLength + 1] = {};
        char key[kMaxNameLength] = {}; // the name upper-cased, as siblings are compared
        std::uint8_t nameLength = 0;
        ObjectType type = ObjectType::Unused;
        Clsid clsid{};
        Id parent = kNoStream;
        std::vector<Id> children;
        std::vector<std::uint8_t> owned;
        std::span<const std::uint8_t> data;
        // Filled by layout().
        std::uint32_t left = kNoStream;
        std::uint32_t right = kNoStream;
        std::uint32_t child = kNoStream;
        Color color = Color::Black;
        std::uint32_t start = kEndOfChain;
    };

    Id add(Id parent, std::string_view name, ObjectType type);
    void layout();
    void linkChildren(Entry& storage);
    Id linkRange(const std::vector<Id>& sorted, std::ptrdiff_t lo, std::ptrdiff_t hi, int depth,
                 int redDepth);
    void writeDirectory(Output& out) const;

    std::vector<Entry> entries_;
    bool laidOut_ = false;
    // Sector counts and positions, from layout().
    std::uint32_t fatSectors_ = 0;
    std::uint32_t difatSectors_ = 0;
    std::uint32_t directorySectors_ = 0;
    std::uint32_t miniFatSectors_ = 0;
    std::uint32_t miniStreamSectors_ = 0;
    std::uint32_t miniSectors_ = 0;
    std::uint32_t regularSectors_ = 0; // sectors of the streams outside the mini stream
    std::uint32_t firstDirectory_ = 0;
};

} // namespace mbx::cfb
