#include "mailstore/cfb/reader.h"

#include "platform/file.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace mbx::cfb {

namespace {

constexpr std::size_t kHeaderSize = 512;

} // namespace

CompoundFileReader CompoundFileReader::open(const std::filesystem::path& path) {
    platform::File file;
    if (!file.open(path)) {
        throw CfbError("cannot read " + path.string());
    }
    return read(file, file.size(), path);
}

CompoundFileReader CompoundFileReader::read(const platform::File& file,
                                            const std::filesystem::path& path) {
    const auto size = file.currentSize();
    if (!size) {
        throw CfbError("cannot read " + path.string());
    }
    return read(file, *size, path);
}

CompoundFileReader CompoundFileReader::read(const platform::File& file, std::uint64_t size,
                                            const std::filesystem::path& path) {
    const auto length = static_cast<std::size_t>(size);
    // Not zeroed first: every byte is read over.
    auto image = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    int error = 0;
    if (file.readAt(reinterpret_cast<char*>(image.get()), length, 0, error) != length) {
        throw CfbError("cannot read " + path.string());
    }
    return CompoundFileReader(std::move(image), length);
}

CompoundFileReader::CompoundFileReader(std::vector<std::uint8_t> image)
    : buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(image.size())),
      image_(buffer_.get(), image.size()) {
    std::copy(image.begin(), image.end(), buffer_.get());
    readTables();
}

CompoundFileReader::CompoundFileReader(std::unique_ptr<std::uint8_t[]> image, std::size_t size)
    : buffer_(std::move(image)), image_(buffer_.get(), size) {
    readTables();
}

std::vector<std::uint32_t> CompoundFileReader::chain(const std::vector<std::uint32_t>& fat,
                                                     std::uint32_t start) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t s = start; s != kEndOfChain;) {
        if (s >= fat.size() || out.size() >= fat.size()) {
            throw CfbError("a sector chain leaves the table or loops");
        }
        out.push_back(s);
        s = fat[s];
    }
    return out;
}

const std::uint8_t* CompoundFileReader::sectorData(std::uint32_t s) const {
    const std::uint64_t sector = std::uint64_t{1} << sectorShift_;
    // A regular sector n lies after the header, which takes the place of one sector.
    const std::uint64_t from = (std::uint64_t{s} + 1) * sector;
    if (from + sector > image_.size()) {
        throw CfbError("a sector lies beyond the end of the file");
    }
    return image_.data() + from;
}

void CompoundFileReader::readTables() {
    if (image_.size() < kHeaderSize) {
        throw CfbError("too short for a compound file");
    }
    HeaderImage header;
    std::memcpy(&header, image_.data(), sizeof header);
    if (header.signature != kSignature || header.byteOrder.get() != kByteOrder) {
        throw CfbError("not a compound file");
    }
    sectorShift_ = header.sectorShift.get();
    if ((sectorShift_ != 9 && sectorShift_ != 12) || header.miniSectorShift.get() != 6) {
        throw CfbError("unsupported sector size");
    }
    cutoff_ = header.miniStreamCutoff.get();
    const std::uint64_t sector = std::uint64_t{1} << sectorShift_;
    const std::uint64_t sectors = (image_.size() + sector - 1) / sector;

    // FAT sectors: the first 109 in the header, the rest in the DIFAT chain.
    const std::uint32_t fatSectors = header.fatSectors.get();
    if (fatSectors > sectors) {
        throw CfbError("more FAT sectors than the file holds");
    }
    std::vector<std::uint32_t> fatList;
    fatList.reserve(fatSectors);
    for (std::uint32_t i = 0; i < fatSectors && i < kHeaderDifatEntries; ++i) {
        fatList.push_back(header.difat[i].get());
    }
    const std::uint32_t perSector = static_cast<std::uint32_t>(sector / 4);
    std::uint32_t difat = header.firstDifatSector.get();
    for (std::uint32_t n = 0; fatList.size() < fatSectors; ++n) {
        if (difat > kMaxRegularSector || n > sectors) {
            throw CfbError("the DIFAT chain ends early");
        }
        const std::uint8_t* block = sectorData(difat);
        for (std::uint32_t i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i) {
            fatList.push_back(readLe32(block + 4 * i));
        }
        difat = readLe32(block + sector - 4);
    }
    fat_.resize(fatList.size() * perSector);
    for (std::size_t k = 0; k < fatList.size(); ++k) {
        const std::uint8_t* block = sectorData(fatList[k]);
        for (std::uint32_t i = 0; i < perSector; ++i) {
            fat_[k * perSector + i] = readLe32(block + 4 * i);
        }
    }

    // The directory, read where its sectors lie.
    const auto dirSectors = chain(fat_, header.firstDirectorySector.get());
    entries_.reserve(dirSectors.size() * (sector / kDirectoryEntrySize));
    for (std::size_t at = 0; at < dirSectors.size() * sector; at += kDirectoryEntrySize) {
        const std::uint8_t* raw = sectorData(dirSectors[at / sector]) + at % sector;
        const auto field = [raw](std::size_t offset) { return readLe32(raw + offset); };
        Entry& entry = entries_.emplace_back();
        entry.raw = raw;
        entry.type = static_cast<ObjectType>(raw[offsetof(DirectoryEntryImage, objectType)]);
        entry.left = field(offsetof(DirectoryEntryImage, leftSibling));
        entry.right = field(offsetof(DirectoryEntryImage, rightSibling));
        entry.child = field(offsetof(DirectoryEntryImage, child));
        entry.start = field(offsetof(DirectoryEntryImage, startSector));
        entry.size = field(offsetof(DirectoryEntryImage, size));
        if (sectorShift_ != 9) {
            // Version 3 files leave the high half of the size to chance; version 4 uses it.
            entry.size |= std::uint64_t{field(offsetof(DirectoryEntryImage, size) + 4)} << 32;
        }
    }
    if (entries_.empty() || entries_[0].type != ObjectType::Root) {
        throw CfbError("the directory has no root entry");
    }
    const std::uint32_t miniFatSectors = header.miniFatSectors.get();
    if (miniFatSectors > 0) {
        const auto miniFatChain = chain(fat_, header.firstMiniFatSector.get());
        miniFat_.resize(miniFatChain.size() * perSector);
        for (std::size_t k = 0; k < miniFatChain.size(); ++k) {
            const std::uint8_t* block = sectorData(miniFatChain[k]);
            for (std::uint32_t i = 0; i < perSector; ++i) {
                miniFat_[k * perSector + i] = readLe32(block + 4 * i);
            }
        }
        // The mini stream stays where its sectors lie; each is checked once here.
        miniStreamSectors_ = chain(fat_, entries_[0].start);
        miniStreamSize_ = entries_[0].size;
        if (miniStreamSectors_.size() * sector < miniStreamSize_) {
            throw CfbError("a stream's sectors hold fewer bytes than its size");
        }
        for (std::uint64_t k = 0; k * sector < miniStreamSize_; ++k) {
            const std::uint64_t from = (std::uint64_t{miniStreamSectors_[k]} + 1) * sector;
            if (from + std::min(sector, miniStreamSize_ - k * sector) > image_.size()) {
                throw CfbError("a sector lies beyond the end of the file");
            }
        }
    }
    indexChildren();
}

std::optional<CompoundFileReader::Id> CompoundFileReader::find(Id storage,
                                                               std::string_view name) const {
    for (const Id id : children(storage)) {
        if (nameIs(entries_[id], name)) {
            return id;
        }
    }
    return std::nullopt;
}

namespace {

// The characters of a directory entry's name, without its terminator (31 at most).
std::size_t nameChars(const std::uint8_t* raw) {
    const std::size_t bytes = readLe16(raw + offsetof(DirectoryEntryImage, nameLength));
    return std::min<std::size_t>(bytes / 2, 32) - (bytes >= 2 ? 1 : 0);
}

} // namespace

bool CompoundFileReader::nameIs(const Entry& entry, std::string_view name) const {
    if (nameChars(entry.raw) != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (readLe16(entry.raw + 2 * i) != static_cast<unsigned char>(name[i])) {
            return false;
        }
    }
    return true;
}

std::span<const CompoundFileReader::Id> CompoundFileReader::children(Id storage) const {
    if (storage >= childRanges_.size()) {
        return {};
    }
    const Range r = childRanges_[storage];
    return std::span(children_).subspan(r.begin, r.end - r.begin);
}

std::span<const std::uint8_t> CompoundFileReader::nameBytes(Id id) const {
    return id < entries_.size() ? std::span(entries_[id].raw, 2 * nameChars(entries_[id].raw))
                                : std::span<const std::uint8_t>();
}

void CompoundFileReader::indexChildren() {
    // Each storage's children form a tree of siblings; every entry is taken once, under the
    // first storage that reaches it, so a damaged tree cannot loop. A storage's tree is walked
    // whole before the next storage's, so its children lie together.
    children_.reserve(entries_.size());
    childRanges_.resize(entries_.size());
    std::vector<bool> seen(entries_.size(), false);
    seen[kRoot] = true;
    std::vector<Id> storages{kRoot};
    std::vector<std::uint32_t> pending;
    while (!storages.empty()) {
        const Id storage = storages.back();
        storages.pop_back();
        childRanges_[storage].begin = static_cast<std::uint32_t>(children_.size());
        pending.assign(1, entries_[storage].child);
        while (!pending.empty()) {
            const auto id = pending.back();
            pending.pop_back();
            if (id >= entries_.size() || seen[id]) {
                continue;
            }
            seen[id] = true;
            children_.push_back(id);
            if (entries_[id].type == ObjectType::Storage) {
                storages.push_back(id);
            }
            pending.push_back(entries_[id].left);
            pending.push_back(entries_[id].right);
        }
        childRanges_[storage].end = static_cast<std::uint32_t>(children_.size());
    }
}

bool CompoundFileReader::isStorage(Id id) const {
    return id < entries_.size() && entries_[id].type == ObjectType::Storage;
}

std::uint64_t CompoundFileReader::streamSize(Id id) const {
    if (id >= entries_.size() || entries_[id].type != ObjectType::Stream) {
        throw CfbError("no such stream");
    }
    return entries_[id].size;
}

void CompoundFileReader::visitStream(
    Id id, const std::function<void(std::span<const std::uint8_t>)>& piece) const {
    const std::uint64_t size = streamSize(id);
    const bool mini = size < cutoff_;
    const std::vector<std::uint32_t>& table = mini ? miniFat_ : fat_;
    const std::uint32_t shift = mini ? kMiniSectorShift : sectorShift_;
    const std::uint64_t sector = std::uint64_t{1} << shift;
    const std::uint64_t containerMask = (std::uint64_t{1} << sectorShift_) - 1;
    // Sectors that follow one another where they lie (as writers lay most streams out) go as
    // one piece: a stream of 4,000 bytes in the mini stream is one piece, not 63.
    std::uint64_t runStart = 0;
    std::uint64_t runLength = 0;
    const auto giveRun = [&] {
        if (runLength > 0) {
            piece(image_.subspan(static_cast<std::size_t>(runStart),
                                 static_cast<std::size_t>(runLength)));
        }
        runLength = 0;
    };
    std::uint64_t at = 0;
    std::uint64_t steps = 0;
    // The whole chain is followed (and so checked), the bytes taken from its first sectors.
    for (std::uint32_t s = entries_[id].start; s != kEndOfChain; s = table[s]) {
        if (s >= table.size() || steps++ >= table.size()) {
            giveRun();
            throw CfbError("a sector chain leaves the table or loops");
        }
        if (at >= size) {
            continue;
        }
        const std::uint64_t n = std::min(sector, size - at);
        std::uint64_t offset = 0;
        if (mini) {
            // Mini sector s lies at s * 64 in the mini stream, so in one of its sectors.
            const std::uint64_t inMini = std::uint64_t{s} << shift;
            if (inMini + n > miniStreamSize_) {
                giveRun();
                throw CfbError("a mini sector lies beyond the mini stream");
            }
            offset =
                ((std::uint64_t{miniStreamSectors_[inMini >> sectorShift_]} + 1) << sectorShift_) +
                (inMini & containerMask);
        } else {
            // A regular sector n lies after the header, which takes the place of one sector.
            offset = (std::uint64_t{s} + 1) << shift;
            if (offset + n > image_.size()) {
                giveRun();
                throw CfbError("a sector lies beyond the end of the file");
            }
        }
        if (runLength == 0 || runStart + runLength != offset) {
            giveRun();
            runStart = offset;
        }
        runLength += n;
        at += n;
    }
    giveRun();
    if (at < size) {
        throw CfbError(mini ? "a stream's mini sectors hold fewer bytes than its size"
                            : "a stream's sectors hold fewer bytes than its size");
    }
}

std::vector<std::uint8_t> CompoundFileReader::stream(Id id) const {
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(streamSize(id), image_.size())));
    visitStream(
        id, [&out](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
    return out;
}

std::span<const std::uint8_t> CompoundFileReader::view(Id id,
                                                       std::vector<std::uint8_t>& scratch) const {
    std::span<const std::uint8_t> first;
    bool copied = false;
    visitStream(id, [&](std::span<const std::uint8_t> p) {
        if (first.empty() && !copied) {
            first = p;
            return;
        }
        if (!copied) {
            scratch.assign(first.begin(), first.end());
            copied = true;
        }
        scratch.insert(scratch.end(), p.begin(), p.end());
    });
    return copied ? std::span<const std::uint8_t>(scratch) : first;
}

} // namespace mbx::cfb
