#include "mailstore/pst/ndb/data_tree.h"

#include <algorithm>

namespace mbx::pst {
namespace {
constexpr std::size_t kEntrySpace = kMaxBlockData - InternalBlockHead::kSize;
constexpr std::size_t kXEntries = kEntrySpace / sizeof(Bid);               // 1,021 BIDs
constexpr std::size_t kSlEntries = kEntrySpace / SubnodeEntry::kSize;      // 340 SLENTRYs
constexpr std::size_t kSiEntries = kEntrySpace / SubnodeIndexEntry::kSize; // 510 SIENTRYs

Bid writeXBlock(NdbWriter& ndb, std::uint8_t level, const Bid* bids, std::size_t n,
                std::uint64_t total) {
    Bytes b(InternalBlockHead::kSize + sizeof(Bid) * n);
    InternalBlockHead{InternalBlockHead::kDataTree, level, static_cast<std::uint16_t>(n),
                      static_cast<std::uint32_t>(total)}
        .encode(b.data());
    for (std::size_t i = 0; i < n; ++i)
        writeLe64(b.data() + InternalBlockHead::kSize + sizeof(Bid) * i, bids[i]);
    return ndb.writeBlock(b, true);
}
} // namespace

void DataTreeWriter::append(ByteView data) {
    total_ += data.size();
    if (total_ > 0xFFFFFFFFull)
        throw PstError("a single value cannot exceed 4 GiB");
    while (!data.empty()) {
        if (pending_.empty() && data.size() >= kMaxBlockData) {
            // A whole block straight from the caller's bytes.
            blocks_.push_back(ndb_.writeBlock(data.first(kMaxBlockData), false));
            data = data.subspan(kMaxBlockData);
            continue;
        }
        const std::size_t room = kMaxBlockData - pending_.size();
        const std::size_t n = std::min(room, data.size());
        pending_.insert(pending_.end(), data.begin(),
                        data.begin() + static_cast<std::ptrdiff_t>(n));
        data = data.subspan(n);
        if (pending_.size() == kMaxBlockData)
            flushBlock();
    }
}

void DataTreeWriter::flushBlock() {
    blocks_.push_back(ndb_.writeBlock(pending_, false));
    pending_.clear();
}

Bid DataTreeWriter::finish() {
    if (!pending_.empty() || blocks_.empty())
        flushBlock();
    if (blocks_.size() == 1)
        return blocks_.front();
    // Every XBLOCK except the last covers exactly kXEntries full blocks.
    const std::uint64_t perX = kXEntries * kMaxBlockData;
    std::vector<Bid> xblocks;
    for (std::size_t i = 0; i < blocks_.size(); i += kXEntries) {
        const std::size_t n = std::min(kXEntries, blocks_.size() - i);
        const std::uint64_t covered = std::min<std::uint64_t>(perX, total_ - i / kXEntries * perX);
        xblocks.push_back(writeXBlock(ndb_, 1, blocks_.data() + i, n, covered));
    }
    if (xblocks.size() == 1)
        return xblocks.front();
    if (xblocks.size() > kXEntries)
        throw PstError("value too large for a data tree");
    return writeXBlock(ndb_, 2, xblocks.data(), xblocks.size(), total_);
}

Bid DataTreeWriter::finish(ByteView last) {
    if (!pending_.empty() || last.empty()) {
        append(last);
        return finish();
    }
    const std::size_t whole = last.size() - last.size() % kMaxBlockData;
    append(last.first(whole));
    last = last.subspan(whole);
    if (!last.empty()) {
        total_ += last.size();
        if (total_ > 0xFFFFFFFFull)
            throw PstError("a single value cannot exceed 4 GiB");
        blocks_.push_back(ndb_.writeBlock(last, false));
    }
    return finish();
}

Bid writeDataTree(NdbWriter& ndb, ByteView data) {
    DataTreeWriter w(ndb);
    return w.finish(data);
}

Bid writeSubnodeTree(NdbWriter& ndb, std::vector<SubnodeEntry> entries) {
    if (entries.empty())
        return 0;
    std::sort(entries.begin(), entries.end(),
              [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (entries[i].nid == entries[i - 1].nid)
            throw PstError("duplicate subnode");
    struct Leaf {
        Nid first;
        Bid bid;
    };
    std::vector<Leaf> leaves;
    for (std::size_t i = 0; i < entries.size(); i += kSlEntries) {
        const std::size_t n = std::min(kSlEntries, entries.size() - i);
        Bytes b(InternalBlockHead::kSize + SubnodeEntry::kSize * n);
        InternalBlockHead{InternalBlockHead::kSubnodeTree, 0, static_cast<std::uint16_t>(n), 0}
            .encode(b.data());
        for (std::size_t e = 0; e < n; ++e)
            entries[i + e].encode(b.data() + InternalBlockHead::kSize + SubnodeEntry::kSize * e);
        leaves.push_back({entries[i].nid, ndb.writeBlock(b, true)});
    }
    if (leaves.size() == 1)
        return leaves.front().bid;
    if (leaves.size() > kSiEntries)
        throw PstError("too many subnodes in one node");
    Bytes b(InternalBlockHead::kSize + SubnodeIndexEntry::kSize * leaves.size());
    InternalBlockHead{InternalBlockHead::kSubnodeTree, 1, static_cast<std::uint16_t>(leaves.size()),
                      0}
        .encode(b.data());
    for (std::size_t l = 0; l < leaves.size(); ++l)
        SubnodeIndexEntry{leaves[l].first, leaves[l].bid}.encode(
            b.data() + InternalBlockHead::kSize + SubnodeIndexEntry::kSize * l);
    return ndb.writeBlock(b, true);
}

} // namespace mbx::pst
