#include "mailstore/pst/ltp/heap.h"

#include "mailstore/pst/ndb/layout.h"

#include <string>

namespace mbx::pst {
namespace {
constexpr std::size_t kMaxItemsPerBlock = 2047;

// Bytes a block needs for its header, items and page map.
std::size_t blockUsage(std::size_t block, std::size_t itemBytes, std::size_t items) {
    const std::size_t end = heapBlockHeaderSize(block) + itemBytes;
    return end + (end & 1) + 4 + 2 * (items + 1);
}

std::uint8_t fillLevel(std::size_t freeBytes) {
    static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                              512,  256,  128,  64,   32,   16,   8};
    for (std::uint8_t i = 0; i < 15; ++i)
        if (freeBytes >= kLimits[i])
            return i;
    return 15;
}
} // namespace

Hid HeapBuilder::allocate(ByteView data) {
    if (data.size() > kMaxHeapItem)
        throw PstError("heap item too large");
    Block* b = &blocks_.back();
    std::size_t index = blocks_.size() - 1;
    if (b->ends.size() + 1 > kMaxItemsPerBlock ||
        blockUsage(index, itemBytes(index) + data.size(), b->ends.size() + 1) > kMaxBlockData) {
        if (blocks_.size() >= 0xFFFF)
            throw PstError("heap has too many blocks");
        blocks_.emplace_back();
        b = &blocks_.back();
        ++index;
    }
    if (b->ends.empty()) {
        // A block's items end up within one data block: take that room at once rather than
        // growing towards it item by item. The block's header goes in front of them.
        b->data.reserve(kMaxBlockData);
        b->data.assign(heapBlockHeaderSize(index), 0);
        b->ends.reserve(64);
    }
    b->data.insert(b->data.end(), data.begin(), data.end());
    b->ends.push_back(static_cast<std::uint16_t>(b->data.size()));
    return makeHid(static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(b->ends.size()));
}

std::size_t HeapBuilder::itemBytes(std::size_t block) const {
    const Block& b = blocks_[block];
    return b.ends.empty() ? 0 : b.data.size() - heapBlockHeaderSize(block);
}

std::uint8_t* HeapBuilder::itemData(Hid hid) {
    Block& b = blocks_.at(hidBlock(hid));
    const std::size_t i = hidIndex(hid) - 1;
    const std::size_t start = i == 0 ? heapBlockHeaderSize(hidBlock(hid)) : b.ends.at(i - 1);
    return b.data.data() + start;
}

void HeapBuilder::build(const std::function<void(ByteView)>& each) {
    std::vector<std::uint8_t> levels(blocks_.size());
    for (std::size_t i = 0; i < blocks_.size(); ++i)
        levels[i] = fillLevel(kMaxBlockData - blockUsage(i, itemBytes(i), blocks_[i].ends.size()));
    auto packLevels = [&](std::uint8_t* out, std::size_t first, std::size_t count) {
        for (std::size_t j = 0; j < count && first + j < levels.size(); ++j)
            out[j / 2] |= static_cast<std::uint8_t>(levels[first + j] << (4 * (j % 2)));
    };

    // Each block is completed where its items lie (header, padding, page map) and taken back to
    // its items afterwards, so the heap can be built again: the heap of a folder's contents
    // table holds the texts of every row, and a second copy of it would double what the close
    // needs.
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        Block& b = blocks_[i];
        const std::size_t header = heapBlockHeaderSize(i);
        Bytes& blk = b.data;
        if (b.ends.empty())
            blk.assign(header, 0); // the empty first block of a heap with no items
        const std::size_t itemsEnd = blk.size();
        std::fill(blk.begin(), blk.begin() + static_cast<std::ptrdiff_t>(header), 0);
        if (blk.size() & 1)
            blk.push_back(0);
        const std::uint16_t ibHnpm = static_cast<std::uint16_t>(blk.size());
        writeLe16(blk.data(), ibHnpm);
        if (i == 0) {
            blk[2] = kHeapSig;
            blk[3] = clientSig_;
            writeLe32(blk.data() + 4, userRoot_);
            packLevels(blk.data() + 8, 0, 8);
        } else if (header == 66) {
            packLevels(blk.data() + 2, i, 128);
        }
        appendLe16(blk, static_cast<std::uint16_t>(b.ends.size()));
        appendLe16(blk, 0);
        appendLe16(blk, static_cast<std::uint16_t>(header));
        for (std::uint16_t end : b.ends)
            appendLe16(blk, end);
        if (i + 1 < blocks_.size())
            blk.resize(kMaxBlockData, 0);
        each(blk);
        blk.resize(itemsEnd);
    }
}

std::vector<Bytes> HeapBuilder::build() {
    std::vector<Bytes> out;
    out.reserve(blocks_.size());
    build([&out](ByteView block) { out.emplace_back(block.begin(), block.end()); });
    return out;
}

HeapReader::HeapReader(std::vector<Bytes> blocks) : blocks_(std::move(blocks)) {
    if (blocks_.empty() || blocks_[0].size() < 12 || blocks_[0][2] != kHeapSig)
        throw PstError("node data is not a heap");
    clientSig_ = blocks_[0][3];
    userRoot_ = readLe32(blocks_[0].data() + 4);
}

ByteView HeapReader::item(Hid hid) const {
    const std::uint32_t block = hidBlock(hid);
    const std::uint32_t index = hidIndex(hid);
    if ((hid & 0x1F) != 0 || block >= blocks_.size() || index == 0)
        throw PstError("bad HID " + std::to_string(hid));
    const Bytes& b = blocks_[block];
    const std::size_t map = readLe16(b.data());
    if (map + 4 > b.size())
        throw PstError("bad heap page map");
    const std::size_t cAlloc = readLe16(b.data() + map);
    if (index > cAlloc || map + 4 + 2 * (cAlloc + 1) > b.size())
        throw PstError("HID beyond the page map " + std::to_string(hid));
    const std::size_t start = readLe16(b.data() + map + 4 + 2 * (index - 1));
    const std::size_t end = readLe16(b.data() + map + 4 + 2 * index);
    if (start > end || end > map)
        throw PstError("bad heap item bounds");
    return ByteView(b.data() + start, end - start);
}

std::vector<std::string> HeapReader::validate() const {
    std::vector<std::string> faults;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const Bytes& b = blocks_[i];
        const std::string where = "heap block " + std::to_string(i) + ": ";
        if (b.size() < 2) {
            faults.push_back(where + "too short");
            continue;
        }
        const std::size_t map = readLe16(b.data());
        if (map & 1)
            faults.push_back(where + "page map at odd offset");
        if (map + 4 > b.size()) {
            faults.push_back(where + "page map beyond block");
            continue;
        }
        const std::size_t cAlloc = readLe16(b.data() + map);
        if (map + 4 + 2 * (cAlloc + 1) > b.size()) {
            faults.push_back(where + "page map entries beyond block");
            continue;
        }
        std::size_t prev = readLe16(b.data() + map + 4);
        if (prev != heapBlockHeaderSize(i))
            faults.push_back(where + "first item does not follow the block header");
        for (std::size_t k = 1; k <= cAlloc; ++k) {
            const std::size_t off = readLe16(b.data() + map + 4 + 2 * k);
            if (off < prev || off > map)
                faults.push_back(where + "item " + std::to_string(k) + " has bad bounds");
            if (off - prev > kMaxHeapItem)
                faults.push_back(where + "item " + std::to_string(k) + " larger than 3,580 bytes");
            prev = off;
        }
    }
    return faults;
}

} // namespace mbx::pst
