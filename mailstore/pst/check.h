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
// The same checks through a reader already open (which may serve other threads meanwhile).
CheckReport checkReader(const NdbReader& reader);

} // namespace mbx::pst
