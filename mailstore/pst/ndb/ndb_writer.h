// The write side of the node database: blocks go to disk as they are produced; the node and
// block B-trees, the allocation maps and finally the header are written by finish().
#pragma once

#include "mailstore/pst/ndb/disk.h"
#include "mailstore/pst/ndb/file_sink.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace mbx::pst {

class NdbWriter {
public:
    NdbWriter(const SinkTarget& target, bool permute);

    // Writes one block holding `data` (at most 8,176 bytes). External blocks are encoded when the
    // file uses permutation; internal ones (XBLOCK, SLBLOCK, ...) never are.
    Bid writeBlock(ByteView data, bool internal);
    void addNode(Nid nid, Bid data, Bid sub, Nid parent);
    // A new top-level NID of the given type, above every index used so far.
    Nid newNid(NidType type);
    // Raises the counter of `type` so that later newNid() calls stay above `index`.
    void reserveNidIndex(NidType type, std::uint32_t index);

    // Writes the B-trees, the map pages and the DList, syncs, then writes the header and syncs.
    // `whileDataSyncs`, when given, is called with the header (not yet written) once everything
    // else is, on this thread while another waits for the data to reach the device; an exception
    // from either is thrown once both are done, and the header is then not written.
    void finish(const std::function<void(ByteView header)>& whileDataSyncs = {});

    std::uint64_t bytesAllocated() const { return sink_.endOfFile(); }
    std::size_t blockCount() const { return bbt_.size(); }

private:
    BlockRef writePage(PageType type, ByteView body496, Bid bid, std::uint64_t at);
    // Builds a B-tree bottom-up from `count` leaf entries sorted by key; `encode(i, out)` writes
    // entry i into its page and returns its key.
    BlockRef writeBTree(PageType type, std::size_t count, std::size_t entrySize,
                        const std::function<std::uint64_t(std::size_t, std::uint8_t*)>& encode);

    FileSink sink_;
    bool permute_;
    Bid nextBlockBid_ = 4;
    Bid nextPageBid_ = 1;
    std::array<std::uint32_t, 32> rgnid_{};
    std::vector<NbtEntry> nbt_;
    std::vector<BbtEntry> bbt_;
};

} // namespace mbx::pst
