// Table context ([MS-PST] §2.3.4): fixed-size rows with a cell-existence bitmap, a row index
// (BTH keyed by row id) and the row matrix, which moves to a subnode once it outgrows a heap item.
#pragma once

#include "mailstore/mapi/tags.h"
#include "mailstore/pst/ltp/values.h"

#include <array>
#include <optional>
#include <span>

namespace mbx::pst {

inline constexpr PropTag kLtpRowId = mapi::tags::LtpRowId;
inline constexpr PropTag kLtpRowVer = mapi::tags::LtpRowVer;

struct TcColumn {
    PropTag tag = 0;
    std::uint16_t ib = 0;
    std::uint8_t cb = 0;
    std::uint8_t iBit = 0;
};

struct TcLayout {
    std::vector<TcColumn> columns;       // sorted by tag, as TCINFO lists them
    std::array<std::uint16_t, 4> rgib{}; // ends of the 4/8-byte, 2-byte, 1-byte cells and the CEB
    std::uint16_t rowSize() const { return rgib[3]; }
    const TcColumn* find(PropTag tag) const;
    // Row id and version first, then 8- and 4-byte cells, 2-byte cells, 1-byte cells, the CEB.
    static TcLayout fromTags(std::vector<PropTag> tags);
};

class TcWriter {
public:
    // Large cell values of this table go to `subs`, the subnodes of the table's node.
    TcWriter(NdbWriter& ndb, TcLayout layout, SubnodeSet& subs);
    // Cells whose tag is not a column are ignored; a column without a cell is left absent.
    void addRow(std::uint32_t rowId, const std::vector<EncodedProp>& cells);
    std::size_t rowCount() const { return rowIndex_.size(); }
    const TcLayout& layout() const { return layout_; }
    // Writes the heap (and the row matrix subnode, when rows outgrew a heap item); returns the
    // node data BID.
    Bid finish();

private:
    void appendRow(const Bytes& row);

    NdbWriter& ndb_;
    TcLayout layout_;
    SubnodeSet& subs_;
    HeapBuilder heap_;
    Hid bthHeader_;
    Hid tcInfo_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rowIndex_;
    Bytes smallMatrix_;
    std::optional<DataTreeWriter> matrix_;
    std::size_t rowsInBlock_ = 0;
};

struct TableContextContent {
    std::vector<TcColumn> columns;
    std::array<std::uint16_t, 4> rgib{};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rowIndex; // (row id, row number)
    std::vector<std::map<PropTag, Bytes>> rows;                    // in row-matrix order
    std::vector<std::string> faults;
};
// `withRows` false reads the columns and the row index only (a folder's contents table can
// have hundreds of thousands of rows).
TableContextContent readTableContext(const NdbReader& ndb, Bid data,
                                     const std::map<Nid, SubnodeEntry>& subs, bool withRows = true);
// What a read does with the rows of the row matrix: skips them, keeps them decoded, or checks
// each (its row id, the values it refers to) and its count without keeping them.
enum class TableRows { None, Keep, Check };
class HeapReader;
// The table context of a heap already read.
TableContextContent readTableContext(const NdbReader& ndb, const HeapReader& heap,
                                     const std::map<Nid, SubnodeEntry>& subs, TableRows rows);
// Each row checked, and kept with the cells of `tags` only.
TableContextContent readTableContext(const NdbReader& ndb, const HeapReader& heap,
                                     const std::map<Nid, SubnodeEntry>& subs,
                                     std::span<const PropTag> tags);

} // namespace mbx::pst
