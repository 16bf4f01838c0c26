#include "mailstore/pst/ltp/bth.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mbx::pst {
namespace {

// Keys are little-endian integers of cbKey bytes.
std::uint64_t keyValue(const std::uint8_t* p, std::size_t cbKey) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < cbKey && i < 8; ++i)
        v |= std::uint64_t{p[i]} << (8 * i);
    return v;
}

void readLevel(const HeapReader& heap, Hid hid, unsigned level, BthContent& out,
               std::uint64_t minKey, int depth) {
    if (depth > 8)
        throw PstError("BTH too deep");
    const ByteView item = heap.item(hid);
    const std::size_t recSize = level == 0 ? out.cbKey + out.cbEnt : out.cbKey + 4u;
    if (recSize == 0) {
        out.faults.push_back("BTH records of no size");
        return; // (stepping by nothing through the item would never end)
    }
    if (item.size() % recSize != 0)
        out.faults.push_back("BTH item size is not a multiple of its record size");
    std::uint64_t prev = minKey;
    bool first = true;
    for (std::size_t off = 0; off + recSize <= item.size(); off += recSize) {
        const std::uint64_t key = keyValue(item.data() + off, out.cbKey);
        if ((!first && key <= prev) || (first && key < minKey))
            out.faults.push_back("BTH keys out of order");
        if (level > 0) {
            readLevel(heap, readLe32(item.data() + off + out.cbKey), level - 1, out, key,
                      depth + 1);
        }
        prev = key;
        first = false;
    }
    // A leaf's records are taken at once: one allocation, not one per doubling of the vector.
    if (level == 0)
        out.records.insert(out.records.end(), item.begin(),
                           item.begin() +
                               static_cast<std::ptrdiff_t>(item.size() / recSize * recSize));
}

} // namespace

Hid allocateBthHeader(HeapBuilder& heap) {
    const std::uint8_t zero[8] = {};
    return heap.allocate(ByteView(zero, 8));
}

void buildBth(HeapBuilder& heap, Hid header, std::uint8_t cbKey, std::uint8_t cbEnt,
              const Bytes& records) {
    const std::size_t recSize = std::size_t{cbKey} + cbEnt;
    const std::size_t count = records.size() / recSize;
    Hid root = 0;
    std::uint8_t levels = 0;
    if (count > 0) {
        struct Entry {
            Bytes key;
            Hid hid;
        };
        std::vector<Entry> level;
        const std::size_t perLeaf = kMaxHeapItem / recSize;
        for (std::size_t i = 0; i < count; i += perLeaf) {
            const std::size_t n = std::min(perLeaf, count - i);
            const ByteView chunk(records.data() + i * recSize, n * recSize);
            level.push_back({Bytes(chunk.begin(), chunk.begin() + cbKey), heap.allocate(chunk)});
        }
        const std::size_t indexSize = std::size_t{cbKey} + 4;
        const std::size_t perIndex = kMaxHeapItem / indexSize;
        while (level.size() > 1) {
            ++levels;
            std::vector<Entry> upper;
            for (std::size_t i = 0; i < level.size(); i += perIndex) {
                const std::size_t n = std::min(perIndex, level.size() - i);
                Bytes item;
                for (std::size_t e = i; e < i + n; ++e) {
                    appendBytes(item, level[e].key);
                    appendLe32(item, level[e].hid);
                }
                upper.push_back({level[i].key, heap.allocate(item)});
            }
            level = std::move(upper);
        }
        root = level.front().hid;
    }
    std::uint8_t* h = heap.itemData(header);
    h[0] = kClientSigBth;
    h[1] = cbKey;
    h[2] = cbEnt;
    h[3] = levels;
    writeLe32(h + 4, root);
}

BthContent readBth(const HeapReader& heap, Hid header) {
    BthContent out;
    const ByteView h = heap.item(header);
    if (h.size() != 8 || h[0] != kClientSigBth)
        throw PstError("bad BTH header");
    out.cbKey = h[1];
    out.cbEnt = h[2];
    out.levels = h[3];
    if (out.cbKey != 2 && out.cbKey != 4 && out.cbKey != 8 && out.cbKey != 16)
        out.faults.push_back("BTH key size " + std::to_string(out.cbKey));
    const Hid root = readLe32(h.data() + 4);
    if (root != 0)
        readLevel(heap, root, out.levels, out, 0, 0);
    return out;
}

} // namespace mbx::pst
