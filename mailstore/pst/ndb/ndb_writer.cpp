#include "mailstore/pst/ndb/ndb_writer.h"

#include "mailstore/pst/ndb/crc.h"
#include "mailstore/pst/ndb/maps.h"
#include "mailstore/pst/ndb/permute.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

namespace mbx::pst {
namespace {
constexpr int kMaxBTreeLevels = 8;

// Initial values of the NID counters (rgnid, [MS-PST] §2.2.2.6), each the last index used for its
// NID type. As in a store Outlook creates: most types start at 0x400, above the store's fixed
// nodes (nids:: in layout.h); search folders at 0x4000, normal messages at 0x10000 and associated
// (FAI) messages at 0x8000.
constexpr std::uint32_t kFirstNidIndex = 0x400;
constexpr std::uint32_t kFirstSearchFolderIndex = 0x4000;
constexpr std::uint32_t kFirstNormalMessageIndex = 0x10000;
constexpr std::uint32_t kFirstAssocMessageIndex = 0x8000;

// cRef (§2.2.2.7.7.3) counts the BBT entry itself besides each holder, so a block used once has 2
// (1 would mark it unused). Every block written here has exactly one holder.
constexpr std::uint16_t kSingleHolderRefCount = 2;
} // namespace

NdbWriter::NdbWriter(const SinkTarget& target, bool permute) : sink_(target), permute_(permute) {
    rgnid_.fill(kFirstNidIndex);
    rgnid_[static_cast<int>(NidType::SearchFolder)] = kFirstSearchFolderIndex;
    rgnid_[static_cast<int>(NidType::NormalMessage)] = kFirstNormalMessageIndex;
    rgnid_[static_cast<int>(NidType::AssocMessage)] = kFirstAssocMessageIndex;
}

Bid NdbWriter::writeBlock(ByteView data, bool internal) {
    if (data.size() > kMaxBlockData)
        throw PstError("block too large");
    const Bid bid = nextBlockBid_ | (internal ? 2u : 0u);
    nextBlockBid_ += 4;
    const std::uint64_t size = blockStoredSize(data.size());
    const std::uint64_t ib = sink_.allocate(size, kUnitSize);
    // Built in place in the sink's buffer: data, zero padding, trailer.
    std::uint8_t* out = sink_.place(ib, size);
    std::memcpy(out, data.data(), data.size());
    std::memset(out + data.size(), 0, size - kTrailerSize - data.size());
    if (permute_ && !internal)
        permuteEncode(out, data.size());
    const auto cb = static_cast<std::uint16_t>(data.size());
    BlockTrailer{cb, blockSignature(ib, bid), crc32(ByteView(out, cb)), bid}.encode(out + size -
                                                                                    kTrailerSize);
    bbt_.push_back({bid, ib, cb, kSingleHolderRefCount});
    return bid;
}

void NdbWriter::addNode(Nid nid, Bid data, Bid sub, Nid parent) {
    nbt_.push_back({nid, data, sub, parent});
}

Nid NdbWriter::newNid(NidType type) {
    auto& counter = rgnid_[static_cast<int>(type)];
    if (counter >= (1u << 27) - 1)
        throw PstError("out of node identifiers");
    return makeNid(type, ++counter);
}

void NdbWriter::reserveNidIndex(NidType type, std::uint32_t index) {
    auto& counter = rgnid_[static_cast<int>(type)];
    counter = std::max(counter, index);
}

BlockRef NdbWriter::writePage(PageType type, ByteView body, Bid bid, std::uint64_t at) {
    Bytes page(kPageSize, 0);
    std::copy(body.begin(), body.end(), page.begin());
    PageTrailer::seal(page.data(), type, bid, at);
    sink_.write(at, page);
    return {bid, at};
}

BlockRef
NdbWriter::writeBTree(PageType type, std::size_t count, std::size_t entrySize,
                      const std::function<std::uint64_t(std::size_t, std::uint8_t*)>& encode) {
    struct Child {
        std::uint64_t key;
        BlockRef ref;
    };
    std::vector<Child> level;
    const std::size_t perLeaf = BTPage::kEntriesSize / entrySize;
    std::size_t i = 0;
    do {
        const std::size_t n = std::min(perLeaf, count - i);
        Bytes body(kPageDataSize, 0);
        std::uint64_t first = 0;
        for (std::size_t e = 0; e < n; ++e) {
            const std::uint64_t key = encode(i + e, body.data() + e * entrySize);
            if (e == 0)
                first = key;
        }
        BTPage{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(perLeaf),
               static_cast<std::uint8_t>(entrySize), 0}
            .encode(body.data());
        const Bid bid = nextPageBid_++;
        level.push_back({first, writePage(type, body, bid, sink_.allocate(kPageSize, kPageSize))});
        i += n;
    } while (i < count);

    int depth = 0;
    while (level.size() > 1) {
        if (++depth > kMaxBTreeLevels)
            throw PstError("B-tree too deep");
        const std::size_t perPage = BTPage::kEntriesSize / BTEntry::kSize;
        std::vector<Child> upper;
        for (std::size_t j = 0; j < level.size(); j += perPage) {
            const std::size_t n = std::min(perPage, level.size() - j);
            Bytes body(kPageDataSize, 0);
            for (std::size_t e = 0; e < n; ++e)
                BTEntry{level[j + e].key, level[j + e].ref}.encode(body.data() +
                                                                   e * BTEntry::kSize);
            BTPage{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(perPage), BTEntry::kSize,
                   static_cast<std::uint8_t>(depth)}
                .encode(body.data());
            const Bid bid = nextPageBid_++;
            upper.push_back(
                {level[j].key, writePage(type, body, bid, sink_.allocate(kPageSize, kPageSize))});
        }
        level = std::move(upper);
    }
    return level.front().ref;
}

void NdbWriter::finish(const std::function<void(ByteView header)>& whileDataSyncs) {
    std::sort(nbt_.begin(), nbt_.end(),
              [](const NbtEntry& a, const NbtEntry& b) { return a.nid < b.nid; });
    for (std::size_t i = 1; i < nbt_.size(); ++i)
        if (nbt_[i].nid == nbt_[i - 1].nid)
            throw PstError("duplicate node " + std::to_string(nbt_[i].nid));
    const BlockRef nbtRoot = writeBTree(PageType::Nbt, nbt_.size(), NbtEntry::kSize,
                                        [this](std::size_t i, std::uint8_t* p) {
                                            nbt_[i].encode(p);
                                            return std::uint64_t{nbt_[i].nid};
                                        });
    std::vector<NbtEntry>().swap(nbt_);
    // BIDs were handed out in increasing order, so the block list is already sorted.
    const BlockRef bbtRoot = writeBTree(PageType::Bbt, bbt_.size(), BbtEntry::kSize,
                                        [this](std::size_t i, std::uint8_t* p) {
                                            bbt_[i].encode(p);
                                            return bbt_[i].bid;
                                        });
    std::vector<BbtEntry>().swap(bbt_);

    // The density list: an empty one, which Outlook rebuilds when it needs it.
    const Bytes dlist(kPageDataSize, 0);
    writePage(PageType::DList, dlist, nextPageBid_++, kDListOffset);

    std::uint64_t freeUnits = 0;
    for (std::uint64_t k = 0; k < sink_.sectionCount(); ++k) {
        const auto& bits = sink_.amap(k);
        writePage(PageType::AMap, bits, sectionOffset(k), sectionOffset(k));
        for (std::uint8_t b : bits)
            freeUnits += 8 - static_cast<unsigned>(__builtin_popcount(b));
        std::uint64_t at = sectionOffset(k) + kPageSize;
        if (sectionHasPMap(k)) {
            const Bytes all(kPageDataSize, 0xFF);
            writePage(PageType::PMap, all, at, at);
            at += kPageSize;
        }
        if (sectionHasFMap(k)) {
            const Bytes body = fmapBody(sink_, (k - 128) / 496);
            writePage(PageType::FMap, body, at, at);
        } else if (sectionHasFPMap(k)) {
            const Bytes all(kPageDataSize, 0xFF);
            writePage(PageType::FPMap, all, at, at);
        }
    }

    Header h;
    h.nextPageBid = nextPageBid_;
    h.nextBlockBid = nextBlockBid_;
    h.unique =
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    h.rgnid = rgnid_;
    h.fileEof = sink_.endOfFile();
    h.lastAMap = sectionOffset(sink_.sectionCount() - 1);
    h.amapFree = freeUnits * kUnitSize;
    h.nbt = nbtRoot;
    h.bbt = bbtRoot;
    h.amapValid = 2;
    h.cryptMethod = permute_ ? 1 : 0;
    const Bytes header = h.encode();
    // The header goes last, once the rest is on the device: a file cut short before that has
    // none, and every reader refuses it.
    if (!whileDataSyncs) {
        sink_.sync();
    } else if (sink_.inMemory()) {
        whileDataSyncs(header);
    } else {
        sink_.flush();
        auto syncing = std::async(std::launch::async, [this] { sink_.syncFlushed(); });
        try {
            whileDataSyncs(header);
        } catch (...) {
            syncing.wait();
            throw;
        }
        syncing.get();
    }
    sink_.write(0, header);
    sink_.sync();
}

} // namespace mbx::pst
