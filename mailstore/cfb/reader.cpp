#include "mailstore/cfb/reader.h"

#include "platform/file.h"

#include <algorithm>
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
    std::vector<std::uint8_t> image(static_cast<std::size_t>(file.size()));
    if (file.readAt(reinterpret_cast<char*>(image.data()), image.size(), 0) != image.size()) {
        throw CfbError("cannot read " + path.string());
    }
    return CompoundFileReader(std::move(image));
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

std::vector<std::uint8_t> CompoundFileReader::read(const std::vector<std::uint32_t>& sectors,
                                                   std::uint64_t size) const {
    const std::uint64_t sector = std::uint64_t{1} << sectorShift_;
    if (sectors.size() * sector < size) {
        throw CfbError("a stream's sectors hold fewer bytes than its size");
    }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    std::uint64_t at = 0;
    for (const auto s : sectors) {
        if (at >= size) {
            break;
        }
        const std::uint64_t from = (std::uint64_t{s} + 1) * sector;
        const std::uint64_t n = std::min(sector, size - at);
        if (from + n > image_.size()) {
            throw CfbError("a sector lies beyond the end of the file");
        }
        std::memcpy(out.data() + at, image_.data() + from, static_cast<std::size_t>(n));
        at += n;
    }
    return out;
}

CompoundFileReader::CompoundFileReader(std::vector<std::uint8_t> image) : image_(std::move(image)) {
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
        DirectoryEntryImage e;
        std::memcpy(&e, sectorData(dirSectors[at / sector]) + at % sector, sizeof e);
        Entry entry;
        const unsigned length = std::min<unsigned>(e.nameLength.get() / 2, 32);
        for (unsigned i = 0; i + 1 < length; ++i) {
            const auto c = e.name[i].get();
            entry.chars[entry.length++] = c < 0x80 ? static_cast<char>(c) : '?';
        }
        entry.type = static_cast<ObjectType>(e.objectType);
        entry.left = e.leftSibling.get();
        entry.right = e.rightSibling.get();
        entry.child = e.child.get();
        entry.start = e.startSector.get();
        entry.size = sectorShift_ == 9 ? (e.size.get() & 0xFFFFFFFFu) : e.size.get();
        entries_.push_back(std::move(entry));
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
        miniStream_ = read(chain(fat_, entries_[0].start), entries_[0].size);
    }
    indexChildren();
}

std::optional<CompoundFileReader::Id> CompoundFileReader::find(Id storage,
                                                               std::string_view name) const {
    const auto it = std::lower_bound(children_.begin(), children_.end(), std::pair(storage, name),
                                     [this](const Child& c, const auto& key) {
                                         return std::pair(c.storage, entries_[c.id].name()) < key;
                                     });
    return it != children_.end() && it->storage == storage && entries_[it->id].name() == name
               ? std::optional<Id>(it->id)
               : std::nullopt;
}

void CompoundFileReader::indexChildren() {
    // Each storage's children form a tree of siblings; every entry is taken once, under the
    // first storage that reaches it, so a damaged tree cannot loop.
    children_.reserve(entries_.size());
    std::vector<bool> seen(entries_.size(), false);
    seen[kRoot] = true;
    std::vector<Id> storages{kRoot};
    while (!storages.empty()) {
        const Id storage = storages.back();
        storages.pop_back();
        std::vector<std::uint32_t> pending{entries_[storage].child};
        while (!pending.empty()) {
            const auto id = pending.back();
            pending.pop_back();
            if (id >= entries_.size() || seen[id]) {
                continue;
            }
            seen[id] = true;
            children_.push_back({storage, id});
            if (entries_[id].type == ObjectType::Storage) {
                storages.push_back(id);
            }
            pending.push_back(entries_[id].left);
            pending.push_back(entries_[id].right);
        }
    }
    // Of two children of a storage with the same name, the one reached first is found.
    std::stable_sort(children_.begin(), children_.end(), [this](const Child& a, const Child& b) {
        return std::pair(a.storage, entries_[a.id].name()) <
               std::pair(b.storage, entries_[b.id].name());
    });
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
    const Entry& e = entries_[id];
    const bool mini = size < cutoff_;
    const std::uint64_t sector = mini ? kMiniSectorSize : std::uint64_t{1} << sectorShift_;
    const std::vector<std::uint8_t>& from = mini ? miniStream_ : image_;
    // A regular sector n lies after the header, which takes the place of one sector.
    const std::uint64_t first = mini ? 0 : sector;
    // Sectors that follow one another where they lie (as writers lay most streams out) go as
    // one piece: a stream of 4,000 bytes in the mini stream is one piece, not 63.
    std::uint64_t runStart = 0;
    std::uint64_t runLength = 0;
    const auto giveRun = [&] {
        if (runLength > 0) {
            piece(std::span(from.data() + runStart, static_cast<std::size_t>(runLength)));
        }
        runLength = 0;
    };
    std::uint64_t at = 0;
    for (const auto s : chain(mini ? miniFat_ : fat_, e.start)) {
        if (at >= size) {
            break;
        }
        const std::uint64_t offset = first + std::uint64_t{s} * sector;
        const std::uint64_t n = std::min(sector, size - at);
        if (offset + n > from.size()) {
            giveRun();
            throw CfbError(mini ? "a mini sector lies beyond the mini stream"
                                : "a sector lies beyond the end of the file");
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

} // namespace mbx::cfb
