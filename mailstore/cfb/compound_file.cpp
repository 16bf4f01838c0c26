#include "mailstore/cfb/compound_file.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mbx::cfb {

namespace {

std::uint32_t sectorsFor(std::uint64_t bytes, std::uint32_t unit) {
    return static_cast<std::uint32_t>((bytes + unit - 1) / unit);
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The order of siblings (§2.6.4): shorter names first, then code unit by code unit after
// upper-casing (names are ASCII here, so upper-casing ASCII letters is the whole rule). Compared
// through each entry's upper-cased key.
int compareKeys(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    if (aLength != bLength) {
        return aLength < bLength ? -1 : 1;
    }
    return std::memcmp(a, b, aLength);
}

// Writes `count` zero bytes.
void pad(Output& out, std::size_t count) {
    static constexpr std::uint8_t kZeros[kSectorSize] = {};
    while (count > 0) {
        const std::size_t n = std::min<std::size_t>(count, sizeof kZeros);
        out.write(kZeros, n);
        count -= n;
    }
}

std::size_t padding(std::uint64_t size, std::uint32_t unit) {
    return static_cast<std::size_t>((unit - size % unit) % unit);
}

// Sector-number tables (FAT, DIFAT, mini FAT) are written as little-endian uint32 runs.
void writeTable(Output& out, const std::vector<std::uint32_t>& table) {
    std::vector<std::uint8_t> bytes(table.size() * 4);
    for (std::size_t i = 0; i < table.size(); ++i) {
        writeLe32(bytes.data() + 4 * i, table[i]);
    }
    out.write(bytes.data(), bytes.size());
}

// Appends a chain of `count` sectors starting at `first` to a FAT or mini FAT.
void appendChain(std::vector<std::uint32_t>& table, std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t i = 1; i < count; ++i) {
        table.push_back(first + i);
    }
    if (count > 0) {
        table.push_back(kEndOfChain);
    }
}

} // namespace

CompoundFile::CompoundFile(const Clsid& rootClsid) {
    Entry& root = entries_.emplace_back();
    std::memcpy(root.name, "Root Entry", 10);
    root.nameLength = 10;
    root.type = ObjectType::Root;
    root.clsid = rootClsid;
}

CompoundFile::Id CompoundFile::add(Id parent, std::string_view name, ObjectType type) {
    if (parent >= entries_.size() || entries_[parent].type == ObjectType::Stream) {
        throw CfbError("compound file: no storage to add \"" + std::string(name) + "\" to");
    }
    if (name.empty() || name.size() > kMaxNameLength ||
        std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E ||
                   c == '/' || c == '\\' || c == ':' || c == '!';
        })) {
        throw CfbError("compound file: invalid entry name \"" + std::string(name) + "\"");
    }
    if (entries_.size() >= kMaxRegularSector) {
        throw CfbError("compound file: too many entries");
    }
    laidOut_ = false;
    const auto id = static_cast<Id>(entries_.size());
    Entry& e = entries_.emplace_back();
    std::memcpy(e.name, name.data(), name.size());
    std::transform(name.begin(), name.end(), e.key, upper);
    e.nameLength = static_cast<std::uint8_t>(name.size());
    e.type = type;
    e.parent = parent;
    entries_[parent].children.push_back(id);
    return id;
}

CompoundFile::Id CompoundFile::addStorage(Id parent, std::string_view name, const Clsid& clsid) {
    const Id id = add(parent, name, ObjectType::Storage);
    entries_[id].clsid = clsid;
    return id;
}

void CompoundFile::addStream(Id parent, std::string_view name, std::vector<std::uint8_t> data) {
    if (data.size() >= kMaxStreamSize) {
        throw CfbError("compound file: stream \"" + std::string(name) + "\" is 2 GiB or larger");
    }
    Entry& e = entries_[add(parent, name, ObjectType::Stream)];
    e.owned = std::move(data);
    e.data = e.owned;
}

void CompoundFile::addStreamView(Id parent, std::string_view name,
                                 std::span<const std::uint8_t> data) {
    if (data.size() >= kMaxStreamSize) {
        throw CfbError("compound file: stream \"" + std::string(name) + "\" is 2 GiB or larger");
    }
    entries_[add(parent, name, ObjectType::Stream)].data = data;
}

// Links the children of one storage in name order as a tree of minimal height: each subtree's
// root is the middle of its range, so null links sit at two adjacent depths only. Nodes on the
// deepest full level below the root are red, all others black: every path then passes the same
// number of black nodes and no red node has a red child.
void CompoundFile::linkChildren(Entry& storage) {
    std::vector<Id> sorted = storage.children;
    const auto nameOf = [this](Id id) {
        return std::string_view(entries_[id].name, entries_[id].nameLength);
    };
    const auto compare = [this](Id a, Id b) {
        return compareKeys(entries_[a].key, entries_[a].nameLength, entries_[b].key,
                           entries_[b].nameLength);
    };
    std::sort(sorted.begin(), sorted.end(), [&](Id a, Id b) { return compare(a, b) < 0; });
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (compare(sorted[i - 1], sorted[i]) == 0) {
            throw CfbError("compound file: two entries named \"" + std::string(nameOf(sorted[i])) +
                           "\" in \"" + std::string(nameOf(entries_[sorted[i]].parent)) + "\"");
        }
    }
    int redDepth = 0; // floor(log2(n)): the depth of the deepest level
    for (std::size_t n = sorted.size(); n > 1; n /= 2) {
        ++redDepth;
    }
    storage.child =
        linkRange(sorted, 0, static_cast<std::ptrdiff_t>(sorted.size()) - 1, 0, redDepth);
}

CompoundFile::Id CompoundFile::linkRange(const std::vector<Id>& sorted, std::ptrdiff_t lo,
                                         std::ptrdiff_t hi, int depth, int redDepth) {
    if (lo > hi) {
        return kNoStream;
    }
    const std::ptrdiff_t mid = lo + (hi - lo) / 2;
    const Id id = sorted[static_cast<std::size_t>(mid)];
    Entry& e = entries_[id];
    e.left = linkRange(sorted, lo, mid - 1, depth + 1, redDepth);
    e.right = linkRange(sorted, mid + 1, hi, depth + 1, redDepth);
    e.color = depth == redDepth && depth > 0 ? Color::Red : Color::Black;
    return id;
}

void CompoundFile::layout() {
    if (laidOut_) {
        return;
    }
    miniSectors_ = 0;
    std::uint64_t regular = 0;
    for (Entry& e : entries_) {
        if (e.type == ObjectType::Stream) {
            if (e.data.empty()) {
                e.start = kEndOfChain;
            } else if (e.data.size() < kMiniStreamCutoff) {
                e.start = miniSectors_;
                miniSectors_ += sectorsFor(e.data.size(), kMiniSectorSize);
            } else {
                regular += sectorsFor(e.data.size(), kSectorSize);
            }
        } else {
            linkChildren(e);
        }
    }
    directorySectors_ = sectorsFor(entries_.size(), kEntriesPerDirectorySector);
    miniFatSectors_ = sectorsFor(miniSectors_, kEntriesPerFatSector);
    miniStreamSectors_ = sectorsFor(std::uint64_t{miniSectors_} * kMiniSectorSize, kSectorSize);
    const std::uint64_t data = regular + directorySectors_ + miniFatSectors_ + miniStreamSectors_;
    // The FAT covers every sector, its own and the DIFAT's included: grow until it holds itself.
    std::uint64_t fat = sectorsFor(data, kEntriesPerFatSector);
    std::uint64_t difat = 0;
    for (;;) {
        difat = fat > kHeaderDifatEntries
                    ? sectorsFor(fat - kHeaderDifatEntries, kFatSectorsPerDifatSector)
                    : 0;
        const std::uint64_t need = sectorsFor(data + fat + difat, kEntriesPerFatSector);
        if (need <= fat) {
            break;
        }
        fat = need;
    }
    if (data + fat + difat >= kMaxRegularSector) {
        throw CfbError("compound file: too large");
    }
    fatSectors_ = static_cast<std::uint32_t>(fat);
    difatSectors_ = static_cast<std::uint32_t>(difat);
    regularSectors_ = static_cast<std::uint32_t>(regular);
    firstDirectory_ = fatSectors_ + difatSectors_;

    // Regular streams follow the directory, the mini FAT and the mini stream, in entry order.
    std::uint32_t next = firstDirectory_ + directorySectors_ + miniFatSectors_ + miniStreamSectors_;
    for (Entry& e : entries_) {
        if (e.type == ObjectType::Stream && e.data.size() >= kMiniStreamCutoff) {
            e.start = next;
            next += sectorsFor(e.data.size(), kSectorSize);
        } else if (e.type == ObjectType::Storage) {
            e.start = 0;
        }
    }
    entries_[kRoot].start = miniStreamSectors_ > 0
                                ? firstDirectory_ + directorySectors_ + miniFatSectors_
                                : kEndOfChain;
    laidOut_ = true;
}

std::uint64_t CompoundFile::fileSize() {
    layout();
    return (std::uint64_t{1} + fatSectors_ + difatSectors_ + directorySectors_ + miniFatSectors_ +
            miniStreamSectors_ + regularSectors_) *
           kSectorSize;
}

void CompoundFile::writeDirectory(Output& out) const {
    std::vector<std::uint8_t> bytes(std::size_t{directorySectors_} * kSectorSize);
    for (std::size_t i = 0; i < std::size_t{directorySectors_} * kEntriesPerDirectorySector; ++i) {
        DirectoryEntryImage image{};
        image.leftSibling.set(kNoStream);
        image.rightSibling.set(kNoStream);
        image.child.set(kNoStream);
        if (i < entries_.size()) {
            const Entry& e = entries_[i];
            for (std::size_t c = 0; c < e.nameLength; ++c) {
                image.name[c].set(static_cast<std::uint8_t>(e.name[c]));
            }
            image.nameLength.set(static_cast<std::uint16_t>(2 * (e.nameLength + 1)));
            image.objectType = static_cast<std::uint8_t>(e.type);
            image.color = static_cast<std::uint8_t>(e.color);
            image.leftSibling.set(e.left);
            image.rightSibling.set(e.right);
            image.child.set(e.child);
            image.clsid = e.clsid;
            image.startSector.set(e.start);
            image.size.set(e.type == ObjectType::Stream ? e.data.size()
                           : e.type == ObjectType::Root
                               ? std::uint64_t{miniSectors_} * kMiniSectorSize
                               : 0);
        }
        std::memcpy(bytes.data() + i * kDirectoryEntrySize, &image, sizeof image);
    }
    out.write(bytes.data(), bytes.size());
}

void CompoundFile::write(Output& out) {
    const std::uint64_t size = fileSize();
    out.begin(size);

    HeaderImage header{};
    header.signature = kSignature;
    header.minorVersion.set(kMinorVersion);
    header.majorVersion.set(kMajorVersion);
    header.byteOrder.set(kByteOrder);
    header.sectorShift.set(kSectorShift);
    header.miniSectorShift.set(kMiniSectorShift);
    header.fatSectors.set(fatSectors_);
    header.firstDirectorySector.set(firstDirectory_);
    header.miniStreamCutoff.set(kMiniStreamCutoff);
    const std::uint32_t firstMiniFat = firstDirectory_ + directorySectors_;
    header.firstMiniFatSector.set(miniFatSectors_ > 0 ? firstMiniFat : kEndOfChain);
    header.miniFatSectors.set(miniFatSectors_);
    header.firstDifatSector.set(difatSectors_ > 0 ? fatSectors_ : kEndOfChain);
    header.difatSectors.set(difatSectors_);
    for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
        header.difat[i].set(i < fatSectors_ ? i : kFreeSector);
    }
    out.write(reinterpret_cast<const std::uint8_t*>(&header), sizeof header);

    // FAT: its own sectors, the DIFAT's, then one chain per structure in file order.
    std::vector<std::uint32_t> table;
    table.reserve(std::size_t{fatSectors_} * kEntriesPerFatSector);
    table.insert(table.end(), fatSectors_, kFatSector);
    table.insert(table.end(), difatSectors_, kDifatSector);
    appendChain(table, firstDirectory_, directorySectors_);
    appendChain(table, firstMiniFat, miniFatSectors_);
    appendChain(table, firstMiniFat + miniFatSectors_, miniStreamSectors_);
    for (const Entry& e : entries_) {
        if (e.type == ObjectType::Stream && e.data.size() >= kMiniStreamCutoff) {
            appendChain(table, e.start, sectorsFor(e.data.size(), kSectorSize));
        }
    }
    table.resize(std::size_t{fatSectors_} * kEntriesPerFatSector, kFreeSector);
    writeTable(out, table);

    // DIFAT sectors: the FAT sectors past the header's 109, 127 a sector, then the next link.
    table.clear();
    for (std::uint32_t d = 0; d < difatSectors_; ++d) {
        for (std::uint32_t i = 0; i < kFatSectorsPerDifatSector; ++i) {
            const std::uint64_t fatSector =
                kHeaderDifatEntries + std::uint64_t{d} * kFatSectorsPerDifatSector + i;
            table.push_back(fatSector < fatSectors_ ? static_cast<std::uint32_t>(fatSector)
                                                    : kFreeSector);
        }
        table.push_back(d + 1 < difatSectors_ ? fatSectors_ + d + 1 : kEndOfChain);
    }
    writeTable(out, table);

    writeDirectory(out);

    // Mini FAT, then the mini stream itself.
    table.clear();
    for (const Entry& e : entries_) {
        if (e.type == ObjectType::Stream && !e.data.empty() && e.data.size() < kMiniStreamCutoff) {
            appendChain(table, e.start, sectorsFor(e.data.size(), kMiniSectorSize));
        }
    }
    table.resize(std::size_t{miniFatSectors_} * kEntriesPerFatSector, kFreeSector);
    writeTable(out, table);
    for (const Entry& e : entries_) {
        if (e.type == ObjectType::Stream && !e.data.empty() && e.data.size() < kMiniStreamCutoff) {
            out.write(e.data.data(), e.data.size());
            pad(out, padding(e.data.size(), kMiniSectorSize));
        }
    }
    pad(out, padding(std::uint64_t{miniSectors_} * kMiniSectorSize, kSectorSize));

    for (const Entry& e : entries_) {
        if (e.type == ObjectType::Stream && e.data.size() >= kMiniStreamCutoff) {
            out.write(e.data.data(), e.data.size());
            pad(out, padding(e.data.size(), kSectorSize));
        }
    }
}

} // namespace mbx::cfb
