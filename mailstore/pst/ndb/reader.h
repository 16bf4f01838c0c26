// The read side of the node database, used by the structural checker and the tests. It loads the
// node and block indexes into memory and reads node data on demand.
#pragma once

#include "mailstore/pst/ndb/data_tree.h"
#include "mailstore/pst/ndb/disk.h"
#include "mailstore/pst/ndb/ndb_writer.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace mbx::pst {

class NdbReader {
public:
    // Throws PstError when the file is not a Unicode PST with a valid header.
    explicit NdbReader(const std::filesystem::path& path);
    // A data file in memory; `image` must outlive the reader.
    explicit NdbReader(const Bytes& image);

    const Header& header() const { return header_.header; }
    const DecodedHeader& decodedHeader() const { return header_; }
    std::uint64_t fileSize() const { return size_; }
    bool permuted() const { return header_.header.cryptMethod == 1; }

    Bytes readAt(std::uint64_t offset, std::size_t size) const;

    const std::map<Nid, NbtEntry>& nodes() const { return nodes_; }
    const std::map<Bid, BbtEntry>& blocks() const { return blocks_; }
    const NbtEntry& node(Nid nid) const;

    // Data of one block, decoded; throws when the BID is unknown or the trailer disagrees.
    Bytes readBlock(Bid bid) const;
    // The data blocks of a data tree in order (one for a plain block).
    std::vector<Bytes> readStreamBlocks(Bid root) const;
    Bytes readStream(Bid root) const;
    std::map<Nid, SubnodeEntry> readSubnodes(Bid root) const;

private:
    void load();
    void loadTree(BlockRef ref, bool nodeTree, int depth);

    std::filesystem::path path_;
    mutable std::ifstream in_;
    const Bytes* image_ = nullptr; // instead of in_
    std::uint64_t size_ = 0;
    DecodedHeader header_;
    std::map<Nid, NbtEntry> nodes_;
    std::map<Bid, BbtEntry> blocks_;
};

} // namespace mbx::pst
