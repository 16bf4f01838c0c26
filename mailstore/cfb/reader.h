// Reads a compound file ([MS-CFB]) back: header, FAT through the DIFAT, directory, mini FAT and
// mini stream, each storage's children found by walking their red-black tree. Every chain is
// followed with a bound, so a damaged file is refused (CfbError), never looped over.
#pragma once

#include "mailstore/cfb/compound_file.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::cfb {

class CompoundFileReader {
public:
    using Id = std::uint32_t;
    static constexpr Id kRoot = 0;

    // Throws CfbError when the bytes are not a compound file this reader can follow.
    explicit CompoundFileReader(std::vector<std::uint8_t> image);
    // The file at `path`, read whole. Throws CfbError (also when it cannot be read).
    static CompoundFileReader open(const std::filesystem::path& path);

    // The child of `storage` named `name` (compared exactly).
    std::optional<Id> find(Id storage, std::string_view name) const;
    bool isStorage(Id id) const;
    // The bytes of stream `id`. Throws CfbError when its sectors do not hold its size.
    std::vector<std::uint8_t> stream(Id id) const;
    // The size of stream `id` (CfbError when there is no such stream), and its bytes handed to
    // `piece` where they lie in the file (a piece for each run of sectors that follow one
    // another there), so that a large stream is not copied; visitStream() throws as stream()
    // does, possibly after some pieces.
    std::uint64_t streamSize(Id id) const;
    void visitStream(Id id, const std::function<void(std::span<const std::uint8_t>)>& piece) const;

private:
    struct Entry {
        // The name in ASCII ('?' for other characters); at most 31 of them.
        std::array<char, 32> chars{};
        std::uint8_t length = 0;
        std::string_view name() const { return {chars.data(), length}; }
        ObjectType type = ObjectType::Unused;
        std::uint32_t left = kNoStream;
        std::uint32_t right = kNoStream;
        std::uint32_t child = kNoStream;
        std::uint32_t start = kEndOfChain;
        std::uint64_t size = 0;
    };
    std::vector<std::uint32_t> chain(const std::vector<std::uint32_t>& fat,
                                     std::uint32_t start) const;
    std::vector<std::uint8_t> read(const std::vector<std::uint32_t>& sectors,
                                   std::uint64_t size) const;
    // Regular sector `s` where it lies in the image (CfbError when the file ends before it).
    const std::uint8_t* sectorData(std::uint32_t s) const;
    void indexChildren();

    std::vector<std::uint8_t> image_;
    std::uint32_t sectorShift_ = kSectorShift;
    std::uint32_t cutoff_ = kMiniStreamCutoff;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<Entry> entries_;
    std::vector<std::uint8_t> miniStream_;
    // Each storage's children, sorted by storage, then name.
    struct Child {
        Id storage;
        Id id;
    };
    std::vector<Child> children_;
};

} // namespace mbx::cfb
