// Node-database and LTP structures at their size boundaries, written with the writer's own
// layers and read back with the reader; the structural checker must find nothing but the
// missing store nodes (these files hold no store).
#include "mailstore/pst/check.h"
#include "mailstore/pst/ltp/bth.h"
#include "mailstore/pst/ltp/heap.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/ltp/tc.h"
#include "mailstore/pst/ndb/data_tree.h"
#include "mailstore/pst/ndb/reader.h"
#include "support.h"

#include <gtest/gtest.h>
#include <random>

using namespace mbx::pst;
using mbx::appendLe32;
using mbx::readLe32;

namespace {

Bytes pattern(std::size_t n, unsigned variant) {
    std::mt19937 rng(variant);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

void expectOnlyStoreMissing(const std::filesystem::path& path) {
    const auto report = checkFile(path);
    for (const auto& f : report.faults)
        EXPECT_NE(f.find("root folder node missing"), std::string::npos) << f;
    EXPECT_EQ(report.faults.size(), 1u);
}

} // namespace

TEST(PstDataTree, SizesAroundBlockAndXBlockLimits) {
    const auto path = psttest::scratch("trees.pst");
    const std::vector<std::size_t> sizes{1, 8176, 8177, 8176 * 1021, 8176 * 1021 + 1};
    {
        NdbWriter ndb(path, true);
        for (std::size_t i = 0; i < sizes.size(); ++i)
            ndb.addNode(makeNid(NidType::Ltp, 0x400 + static_cast<std::uint32_t>(i)),
                        writeDataTree(ndb, pattern(sizes[i], static_cast<unsigned>(i))), 0, 0);
        ndb.finish();
    }
    NdbReader r(path);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto& n = r.node(makeNid(NidType::Ltp, 0x400 + static_cast<std::uint32_t>(i)));
        EXPECT_EQ(r.readStream(n.data), pattern(sizes[i], static_cast<unsigned>(i))) << sizes[i];
        EXPECT_EQ(bidIsInternal(n.data), sizes[i] > 8176) << sizes[i];
    }
    // The largest one needs an XXBLOCK: its root's children are XBLOCKs.
    const Bytes root = r.readBlock(r.node(makeNid(NidType::Ltp, 0x404)).data);
    EXPECT_EQ(root[1], 2);
    expectOnlyStoreMissing(path);
}

TEST(PstSubnodes, SplitIntoSiblockAfter340) {
    const auto path = psttest::scratch("subnodes.pst");
    {
        NdbWriter ndb(path, false);
        for (std::uint32_t count : {340u, 341u}) {
            std::vector<SubnodeEntry> subs;
            for (std::uint32_t i = 0; i < count; ++i) // added out of order on purpose
                subs.push_back(
                    {makeNid(NidType::Ltp, count - i), writeDataTree(ndb, pattern(10, i)), 0});
            ndb.addNode(makeNid(NidType::Internal, count), 0, writeSubnodeTree(ndb, subs), 0);
        }
        ndb.finish();
    }
    NdbReader r(path);
    for (std::uint32_t count : {340u, 341u}) {
        const Bid sub = r.node(makeNid(NidType::Internal, count)).sub;
        EXPECT_EQ(r.readBlock(sub)[1], count > 340 ? 1 : 0);
        const auto subs = r.readSubnodes(sub);
        ASSERT_EQ(subs.size(), count);
        EXPECT_EQ(r.readStream(subs.at(makeNid(NidType::Ltp, 7)).data), pattern(10, count - 7));
    }
    expectOnlyStoreMissing(path);
}

TEST(PstHeap, ManyBlocksWithBitmapHeaders) {
    HeapBuilder heap(kClientSigPc);
    std::vector<std::pair<Hid, Bytes>> items;
    for (unsigned i = 0; i < 16000; ++i) { // about 150 blocks: bitmap headers at 8 and 136
        Bytes b = pattern(1 + i % 150, i);
        items.emplace_back(heap.allocate(b), b);
    }
    const auto blocks = heap.build();
    ASSERT_GT(blocks.size(), 137u);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
        EXPECT_EQ(blocks[i].size(), 8176u);
    const HeapReader reader(blocks);
    EXPECT_TRUE(reader.validate().empty());
    for (const auto& [hid, data] : items) {
        const auto v = reader.item(hid);
        ASSERT_EQ(Bytes(v.begin(), v.end()), data) << std::hex << hid;
    }
    EXPECT_EQ(hidBlock(items.back().first), blocks.size() - 1);
    EXPECT_THROW(HeapBuilder(kClientSigPc).allocate(Bytes(3581)), PstError);
}

TEST(PstBth, LeafLimitAndIndexLevel) {
    for (std::uint32_t count : {447u, 448u, 100000u}) {
        HeapBuilder heap(kClientSigBth);
        const Hid header = allocateBthHeader(heap);
        heap.setUserRoot(header);
        Bytes records;
        for (std::uint32_t i = 0; i < count; ++i) {
            appendLe32(records, i * 3 + 1);
            appendLe32(records, i);
        }
        buildBth(heap, header, 4, 4, records);
        const HeapReader reader(heap.build());
        const auto bth = readBth(reader, header);
        EXPECT_EQ(bth.levels, count <= 447 ? 0 : 1) << count;
        EXPECT_EQ(bth.records, records);
        EXPECT_TRUE(bth.faults.empty());
    }
}

// A damaged header that gives records no size is a fault, not a walk that never ends.
TEST(PstBth, RecordsOfNoSize) {
    HeapBuilder heap(kClientSigBth);
    const Hid records = heap.allocate(Bytes(8, 1));
    Bytes header{kClientSigBth, 0, 0, 0};
    appendLe32(header, records);
    const Hid hid = heap.allocate(header);
    heap.setUserRoot(hid);
    EXPECT_FALSE(readBth(HeapReader(heap.build()), hid).faults.empty());
}

TEST(PstTable, RowMatrixAcrossBlocksAndLargeCells) {
    const auto path = psttest::scratch("table.pst");
    const TcLayout layout =
        TcLayout::fromTags({0x0037001F, 0x0E080003, 0x0E060040, 0x0E1B000B, 0x00170002});
    const std::uint32_t rows = 2000; // rows of 33 bytes: 247 per block, 9 blocks
    {
        NdbWriter ndb(path, false);
        SubnodeSet subs;
        TcWriter table(ndb, layout, subs);
        for (std::uint32_t i = 0; i < rows; ++i) {
            Bytes size;
            appendLe32(size, i);
            const std::size_t textSize =
                i == 5 ? 5000 : 2 * (i % 7); // one cell spills to a subnode
            table.addRow(0x200004 + 32 * (rows - i),
                         {{0x0037001F, pattern(textSize, i)}, {0x0E080003, size}});
        }
        const Bid data = table.finish();
        ndb.addNode(makeNid(NidType::ContentsTable, 0x400), data, subs.write(ndb), 0);
        ndb.finish();
    }
    NdbReader r(path);
    const auto& n = r.node(makeNid(NidType::ContentsTable, 0x400));
    const auto t = readTableContext(r, n.data, r.readSubnodes(n.sub));
    EXPECT_TRUE(t.faults.empty());
    ASSERT_EQ(t.rows.size(), rows);
    for (std::uint32_t i = 0; i < rows; ++i) {
        const auto& row = t.rows[i];
        EXPECT_EQ(readLe32(row.at(kLtpRowId).data()), 0x200004 + 32 * (rows - i));
        EXPECT_EQ(readLe32(row.at(0x0E080003).data()), i);
        const std::size_t textSize = i == 5 ? 5000 : 2 * (i % 7);
        if (textSize) {
            EXPECT_EQ(row.at(0x0037001F), pattern(textSize, i));
        }
        EXPECT_FALSE(row.count(0x0E060040)); // never set: absent, not zero
    }
    // The row index is sorted by row id, which here runs against the row order.
    EXPECT_EQ(t.rowIndex.front().second, rows - 1);
    expectOnlyStoreMissing(path);
}

// Two columns sharing a cell-existence bit, and a bit beyond the columns: the check names both.
TEST(PstTable, CheckFindsBadExistenceBits) {
    const auto path = psttest::scratch("bits.pst");
    TcLayout layout = TcLayout::fromTags({0x0E080003, 0x0E170003, 0x00170002});
    const auto column = [&layout](PropTag tag) -> TcColumn& {
        return *std::find_if(layout.columns.begin(), layout.columns.end(),
                             [tag](const TcColumn& c) { return c.tag == tag; });
    };
    column(0x0E170003).iBit = column(0x0E080003).iBit;
    column(0x00170002).iBit = 40; // past the row's one-byte bitmap
    {
        NdbWriter ndb(path, false);
        SubnodeSet subs;
        TcWriter table(ndb, layout, subs);
        table.addRow(0x200024, {});
        ndb.addNode(makeNid(NidType::ContentsTable, 0x400), table.finish(), subs.write(ndb), 0);
        ndb.finish();
    }
    std::string faults;
    for (const auto& f : checkFile(path).faults)
        faults += f + "\n";
    EXPECT_NE(faults.find("bad iBit for column 0xe170003"), std::string::npos) << faults;
    EXPECT_NE(faults.find("bad iBit for column 0x170002"), std::string::npos) << faults;
    EXPECT_EQ(faults.find("bad iBit for column 0xe080003"), std::string::npos) << faults;
}
