// Node data larger than one block (XBLOCK / XXBLOCK trees, [MS-PST] §2.2.2.8.3.2) and subnode
// trees (SLBLOCK / SIBLOCK, §2.2.2.8.3.3).
#pragma once

#include "mailstore/pst/ndb/ndb_writer.h"

#include <vector>

namespace mbx::pst {

// Streams a node's data into 8,176-byte blocks as it arrives; every block but the last is full,
// as readers that locate data by block index expect. finish() writes the XBLOCK/XXBLOCK levels.
class DataTreeWriter {
public:
    explicit DataTreeWriter(NdbWriter& ndb) : ndb_(ndb) {}
    void append(ByteView data);
    std::uint64_t size() const { return total_; }
    // Root BID of the tree (the single data block when the data fits one block).
    Bid finish();
    // The same after a last append of `last`, whose final block is written from the caller's
    // bytes rather than gathered first when it begins a block.
    Bid finish(ByteView last);

private:
    void flushBlock();

    NdbWriter& ndb_;
    Bytes pending_;
    std::vector<Bid> blocks_;
    std::uint64_t total_ = 0;
};

// Convenience: the whole value at once.
Bid writeDataTree(NdbWriter& ndb, ByteView data);

// Writes the subnode tree of one node; returns 0 when there are no subnodes.
Bid writeSubnodeTree(NdbWriter& ndb, std::vector<SubnodeEntry> entries);

} // namespace mbx::pst
