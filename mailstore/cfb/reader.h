// Reads a compound file ([MS-CFB]) back: header, FAT through the DIFAT, directory, mini FAT and
// mini stream, each storage's children found by walking their red-black tree. Every chain is
// followed with a bound, so a damaged file is refused (CfbError), never looped over. The file is
// read once into memory; streams are handed out where their bytes lie there, not copied.
#pragma once

#include "mailstore/cfb/compound_file.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::platform {
class File;
}

namespace mbx::cfb {

class CompoundFileReader {
public:
    using Id = std::uint32_t;
    static constexpr Id kRoot = 0;

    // Throws CfbError when the bytes are not a compound file this reader can follow.
    explicit CompoundFileReader(std::vector<std::uint8_t> image);
    // The file at `path`, read whole. Throws CfbError (also when it cannot be read).
    static CompoundFileReader open(const std::filesystem::path& path);
    // The whole of an open file, as open() reads a closed one (`path` names it in errors).
    static CompoundFileReader read(const platform::File& file, const std::filesystem::path& path);

    // The child of `storage` named `name` (ASCII, compared exactly; of two with one name, the
    // first reached).
    std::optional<Id> find(Id storage, std::string_view name) const;
    // The children of `storage` in the order their tree was walked (none for a stream).
    std::span<const Id> children(Id storage) const;
    // An entry's name as the directory holds it: UTF-16LE, without its terminator, at most 31
    // characters.
    std::span<const std::uint8_t> nameBytes(Id id) const;
    bool isStorage(Id id) const;
    // The bytes of stream `id`. Throws CfbError when its sectors do not hold its size.
    std::vector<std::uint8_t> stream(Id id) const;
    // The size of stream `id` (CfbError when there is no such stream), and its bytes handed to
    // `piece` where they lie in the file (a piece for each run of sectors that follow one
    // another there), so that a large stream is not copied; visitStream() throws as stream()
    // does, possibly after some pieces.
    std::uint64_t streamSize(Id id) const;
    void visitStream(Id id, const std::function<void(std::span<const std::uint8_t>)>& piece) const;
    // The bytes of stream `id` in one span: where they lie when that is one run of sectors,
    // otherwise copied into `scratch`. Valid while the reader and `scratch` are.
    std::span<const std::uint8_t> view(Id id, std::vector<std::uint8_t>& scratch) const;

private:
    struct Entry {
        // The entry where it lies in the image; its name is read from there when asked for.
        const std::uint8_t* raw = nullptr;
        ObjectType type = ObjectType::Unused;
        std::uint32_t left = kNoStream;
        std::uint32_t right = kNoStream;
        std::uint32_t child = kNoStream;
        std::uint32_t start = kEndOfChain;
        std::uint64_t size = 0;
    };
    bool nameIs(const Entry& entry, std::string_view name) const;
    CompoundFileReader(std::unique_ptr<std::uint8_t[]> image, std::size_t size);
    static CompoundFileReader read(const platform::File& file, std::uint64_t size,
                                   const std::filesystem::path& path);
    void readTables();
    std::vector<std::uint32_t> chain(const std::vector<std::uint32_t>& fat,
                                     std::uint32_t start) const;
    // Regular sector `s` where it lies in the image (CfbError when the file ends before it).
    const std::uint8_t* sectorData(std::uint32_t s) const;
    void indexChildren();

    std::unique_ptr<std::uint8_t[]> buffer_;
    std::span<const std::uint8_t> image_;
    std::uint32_t sectorShift_ = kSectorShift;
    std::uint32_t cutoff_ = kMiniStreamCutoff;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<Entry> entries_;
    // The regular sectors that hold the mini stream, in its order, and its size.
    std::vector<std::uint32_t> miniStreamSectors_;
    std::uint64_t miniStreamSize_ = 0;
    // Each storage's children, one storage after another; `childRanges_[storage]` is where its
    // own begin and end.
    std::vector<Id> children_;
    struct Range {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
    };
    std::vector<Range> childRanges_;
};

} // namespace mbx::cfb
