#include "mailstore/pst/ltp/tc.h"

#include "mailstore/pst/ltp/bth.h"
#include "mailstore/pst/ndb/reader.h"

#include <algorithm>

namespace mbx::pst {
namespace {

std::uint8_t cellSize(PropType type) {
    const std::size_t n = fixedValueSize(type);
    return static_cast<std::uint8_t>((n == 0 || n > 8) ? 4 : n);
}
bool cellIsHnid(PropType type) {
    const std::size_t n = fixedValueSize(type);
    return n == 0 || n > 8;
}

} // namespace

const TcColumn* TcLayout::find(PropTag tag) const {
    auto it = std::lower_bound(columns.begin(), columns.end(), tag,
                               [](const TcColumn& c, PropTag t) { return c.tag < t; });
    return (it != columns.end() && it->tag == tag) ? &*it : nullptr;
}

TcLayout TcLayout::fromTags(std::vector<PropTag> tags) {
    std::erase(tags, kLtpRowId);
    std::erase(tags, kLtpRowVer);
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    if (tags.size() + 2 > 255)
        throw PstError("too many table columns");
    TcLayout l;
    std::vector<TcColumn> placed{{kLtpRowId, 0, 4, 0}, {kLtpRowVer, 4, 4, 1}};
    std::uint16_t ib = 8;
    std::uint8_t bit = 2;
    for (std::uint8_t width : {8, 4, 2, 1}) {
        for (PropTag t : tags) {
            if (cellSize(mapi::propType(t)) != width)
                continue;
            placed.push_back({t, ib, width, bit++});
            ib = static_cast<std::uint16_t>(ib + width);
        }
        if (width == 4)
            l.rgib[0] = ib;
        else if (width == 2)
            l.rgib[1] = ib;
        else if (width == 1)
            l.rgib[2] = ib;
    }
    l.rgib[3] = static_cast<std::uint16_t>(ib + (placed.size() + 7) / 8);
    std::sort(placed.begin(), placed.end(),
              [](const TcColumn& a, const TcColumn& b) { return a.tag < b.tag; });
    l.columns = std::move(placed);
    return l;
}

TcWriter::TcWriter(NdbWriter& ndb, TcLayout layout, SubnodeSet& subs)
    : ndb_(ndb), layout_(std::move(layout)), subs_(subs), heap_(kClientSigTc) {
    bthHeader_ = allocateBthHeader(heap_);
    const Bytes info(22 + 8 * layout_.columns.size(), 0);
    tcInfo_ = heap_.allocate(info);
    heap_.setUserRoot(tcInfo_);
}

void TcWriter::addRow(std::uint32_t rowId, const std::vector<EncodedProp>& cells) {
    Bytes row(layout_.rowSize(), 0);
    const std::size_t ceb = layout_.rgib[2];
    auto setBit = [&](std::uint8_t iBit) {
        row[ceb + iBit / 8] |= static_cast<std::uint8_t>(0x80u >> (iBit % 8));
    };
    writeLe32(row.data(), rowId);
    setBit(0);
    setBit(1);
    for (const auto& cell : cells) {
        const TcColumn* c = layout_.find(cell.tag);
        if (!c || c->tag == kLtpRowId || c->tag == kLtpRowVer)
            continue;
        const PropType type = mapi::propType(cell.tag);
        if (cellIsHnid(type)) {
            writeLe32(row.data() + c->ib, storeVariable(ndb_, heap_, subs_, cell.data));
        } else {
            std::copy_n(cell.data.begin(), std::min<std::size_t>(c->cb, cell.data.size()),
                        row.begin() + c->ib);
        }
        setBit(c->iBit);
    }
    rowIndex_.emplace_back(rowId, static_cast<std::uint32_t>(rowIndex_.size()));
    appendRow(row);
}

void TcWriter::appendRow(const Bytes& row) {
    if (!matrix_) {
        smallMatrix_.insert(smallMatrix_.end(), row.begin(), row.end());
        if (smallMatrix_.size() <= kMaxHeapItem)
            return;
        // Too large for a heap item: from now on rows stream into a subnode's data tree.
        matrix_.emplace(ndb_);
        const Bytes pending = std::move(smallMatrix_);
        smallMatrix_.clear();
        for (std::size_t off = 0; off < pending.size(); off += row.size())
            appendRow(Bytes(pending.begin() + static_cast<std::ptrdiff_t>(off),
                            pending.begin() + static_cast<std::ptrdiff_t>(off + row.size())));
        return;
    }
    // Rows never straddle blocks; every block but the last is padded to full size.
    const std::size_t perBlock = kMaxBlockData / row.size();
    matrix_->append(row);
    if (++rowsInBlock_ == perBlock) {
        const std::size_t pad = kMaxBlockData - perBlock * row.size();
        if (pad > 0) {
            const Bytes zeros(pad, 0);
            matrix_->append(zeros);
        }
        rowsInBlock_ = 0;
    }
}

Bid TcWriter::finish() {
    std::uint32_t hnidRows = 0;
    if (matrix_) {
        const Nid nid = subs_.newNid(NidType::Ltp);
        subs_.add({nid, matrix_->finish(), 0});
        hnidRows = nid;
    } else if (!smallMatrix_.empty()) {
        hnidRows = heap_.allocate(smallMatrix_);
    }
    auto sorted = rowIndex_;
    std::sort(sorted.begin(), sorted.end());
    Bytes records;
    records.reserve(sorted.size() * 8);
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0 && sorted[i].first == sorted[i - 1].first)
            throw PstError("row id used twice in one table");
        appendLe32(records, sorted[i].first);
        appendLe32(records, sorted[i].second);
    }
    buildBth(heap_, bthHeader_, 4, 4, records);

    std::uint8_t* info = heap_.itemData(tcInfo_);
    info[0] = kClientSigTc;
    info[1] = static_cast<std::uint8_t>(layout_.columns.size());
    for (int i = 0; i < 4; ++i)
        writeLe16(info + 2 + 2 * i, layout_.rgib[static_cast<std::size_t>(i)]);
    writeLe32(info + 10, bthHeader_);
    writeLe32(info + 14, hnidRows);
    writeLe32(info + 18, 0); // hidIndex, deprecated
    for (std::size_t i = 0; i < layout_.columns.size(); ++i) {
        const TcColumn& c = layout_.columns[i];
        std::uint8_t* p = info + 22 + 8 * i;
        writeLe32(p, c.tag);
        writeLe16(p + 4, c.ib);
        p[6] = c.cb;
        p[7] = c.iBit;
    }
    return writeHeap(ndb_, heap_);
}

namespace {

// Whether the row holds a value for `c`. A cell or an existence bit outside the row (a damaged
// TCINFO) counts as absent: nothing past the row is read.
bool cellPresent(const TableContextContent& t, const TcColumn& c, const std::uint8_t* row) {
    const std::size_t ceb = t.rgib[2];
    const std::size_t bitByte = ceb + c.iBit / 8;
    return c.ib + c.cb <= ceb && bitByte < t.rgib[3] && (row[bitByte] & (0x80u >> (c.iBit % 8)));
}

// Checks one row of the row matrix without keeping it: its row id is there, and every value it
// refers to is a heap item or a subnode that exists.
void checkRow(const HeapReader& heap, const std::map<Nid, SubnodeEntry>& subs,
              TableContextContent& out, std::size_t number, const std::uint8_t* row) {
    bool rowId = false;
    for (const auto& c : out.columns) {
        if (!cellPresent(out, c, row))
            continue;
        if (c.tag == kLtpRowId)
            rowId = c.cb == 4;
        if (!cellIsHnid(mapi::propType(c.tag)))
            continue;
        const std::uint32_t hnid = readLe32(row + c.ib);
        if (hnid == 0)
            continue;
        if ((hnid & 0x1F) == 0)
            heap.item(hnid); // throws when the heap has no such item
        else if (!subs.count(hnid))
            throw PstError("subnode " + std::to_string(hnid) + " not found");
    }
    if (!rowId)
        out.faults.push_back("row " + std::to_string(number) + " lacks its row id");
}

// With `only` (and TableRows::Keep), each row is checked and only the cells of those tags kept.
TableContextContent readTable(const NdbReader& ndb, const HeapReader& heap,
                              const std::map<Nid, SubnodeEntry>& subs, TableRows mode,
                              const std::span<const PropTag>* only = nullptr) {
    TableContextContent out;
    if (heap.clientSig() != kClientSigTc)
        throw PstError("node is not a table context");
    const ByteView info = heap.item(heap.userRoot());
    if (info.size() < 22 || info[0] != kClientSigTc)
        throw PstError("bad TCINFO");
    const std::size_t cCols = info[1];
    if (info.size() < 22 + 8 * cCols)
        throw PstError("TCINFO shorter than its columns");
    for (int i = 0; i < 4; ++i)
        out.rgib[static_cast<std::size_t>(i)] = readLe16(info.data() + 2 + 2 * i);
    out.columns.reserve(cCols);
    for (std::size_t i = 0; i < cCols; ++i) {
        const std::uint8_t* p = info.data() + 22 + 8 * i;
        out.columns.push_back({readLe32(p), readLe16(p + 4), p[6], p[7]});
    }
    BthContent bth = readBth(heap, readLe32(info.data() + 10));
    out.faults = std::move(bth.faults);
    if (bth.cbKey != 4 || (bth.cbEnt != 4 && bth.cbEnt != 2))
        throw PstError("row index has the wrong record size");
    const std::size_t rec = std::size_t{bth.cbKey} + bth.cbEnt;
    out.rowIndex.reserve(bth.records.size() / rec);
    for (std::size_t off = 0; off + rec <= bth.records.size(); off += rec)
        out.rowIndex.emplace_back(readLe32(bth.records.data() + off),
                                  bth.cbEnt == 4 ? readLe32(bth.records.data() + off + 4)
                                                 : readLe16(bth.records.data() + off + 4));
    const std::uint32_t hnidRows = readLe32(info.data() + 14);
    const std::size_t rowSize = out.rgib[3];
    if (mode == TableRows::None || hnidRows == 0 || rowSize == 0)
        return out;
    std::size_t rows = 0;
    const auto eachBlock = [&](ByteView b) {
        for (std::size_t off = 0; off + rowSize <= b.size(); off += rowSize) {
            if (rows == out.rowIndex.size())
                break;
            const std::uint8_t* row = b.data() + off;
            if (mode == TableRows::Check) {
                checkRow(heap, subs, out, rows, row);
                ++rows;
                continue;
            }
            if (only != nullptr)
                checkRow(heap, subs, out, rows, row);
            std::map<PropTag, Bytes> cells;
            for (const auto& c : out.columns) {
                if (!cellPresent(out, c, row))
                    continue;
                if (only != nullptr && std::find(only->begin(), only->end(), c.tag) == only->end())
                    continue;
                const PropType type = mapi::propType(c.tag);
                if (cellIsHnid(type))
                    cells[c.tag] = resolveHnid(ndb, heap, subs, readLe32(row + c.ib));
                else
                    cells[c.tag] = Bytes(row + c.ib, row + c.ib + c.cb);
            }
            out.rows.push_back(std::move(cells));
            ++rows;
        }
    };
    if ((hnidRows & 0x1F) == 0) {
        eachBlock(heap.item(hnidRows));
    } else {
        auto it = subs.find(hnidRows);
        if (it == subs.end())
            throw PstError("row matrix subnode missing");
        // A block at a time: the row matrix of a folder of 200,000 messages takes tens of
        // megabytes, and checking its rows keeps none of them.
        ndb.readStreamBlocks(it->second.data, [&eachBlock](Bytes& b) { eachBlock(ByteView(b)); });
    }
    if (rows != out.rowIndex.size())
        out.faults.push_back("row matrix holds " + std::to_string(rows) + " rows, row index " +
                             std::to_string(out.rowIndex.size()));
    return out;
}

} // namespace

TableContextContent readTableContext(const NdbReader& ndb, Bid data,
                                     const std::map<Nid, SubnodeEntry>& subs, bool withRows) {
    return readTable(ndb, HeapReader(ndb.readStreamBlocks(data)), subs,
                     withRows ? TableRows::Keep : TableRows::None);
}

TableContextContent readTableContext(const NdbReader& ndb, const HeapReader& heap,
                                     const std::map<Nid, SubnodeEntry>& subs, TableRows rows) {
    return readTable(ndb, heap, subs, rows);
}

TableContextContent readTableContext(const NdbReader& ndb, const HeapReader& heap,
                                     const std::map<Nid, SubnodeEntry>& subs,
                                     std::span<const PropTag> tags) {
    return readTable(ndb, heap, subs, TableRows::Keep, &tags);
}

} // namespace mbx::pst
