// Structural checker for PST files: everything the Debian readers do not verify. Header and its
// CRCs, page and block trailers, signatures and CRCs, B-tree order, keys and levels, allocation
// maps against what the B-trees reference, reference counts, data and subnode trees, node
// parents, heaps, property and table contexts, folder counts against table rows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mbx::pst {

struct CheckReport {
    std::vector<std::string> faults;
    std::size_t nodes = 0;
    std::size_t blocks = 0;
    bool ok() const { return faults.empty(); }
};

CheckReport checkFile(const std::filesystem::path& path);
// The same checks on a data file in memory.
CheckReport checkImage(const std::vector<std::uint8_t>& image);
class NdbReader;
// How far the check goes into messages.
enum class MessageDepth {
    Full, // their heaps, property contexts and tables as well
    // Their nodes, data and subnode trees and blocks only: for a caller that reads every message
    // back itself, refusing a damaged heap or table (the read-back of a conversion).
    Nodes,
};
class BlockAudit;
// The same checks through a reader already open (whose indexes other threads may share). With
// an audit, the data blocks' trailers and CRCs are left to the readers that audit them; then
// checkUnreadBlocks tells what they found and verifies the blocks none of them read.
CheckReport checkReader(const NdbReader& reader, MessageDepth depth = MessageDepth::Full,
                        const BlockAudit* audit = nullptr);
std::vector<std::string> checkUnreadBlocks(const NdbReader& reader, const BlockAudit& audit);

} // namespace mbx::pst
