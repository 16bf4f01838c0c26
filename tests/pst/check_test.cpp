// The structural checker must accept Outlook's own blank store and reject copies of it with one
// defect each, since the Debian readers accept all of these defects silently.
#include "mailstore/mapi/tags.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/ndb/crc.h"
#include "mailstore/pst/ndb/reader.h"
#include "mailstore/pst/writer.h"
#include "support.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

using namespace mbx::pst;

namespace {

// A writable copy of Outlook's blank store.
struct BlankCopy {
    std::filesystem::path path;
    Header header;
    BlockIndex blocks;

    explicit BlankCopy(const std::string& name) : path(psttest::scratch(name + ".pst")) {
        std::filesystem::copy_file(psttest::blankReference(), path,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        NdbReader r(path);
        header = r.header();
        blocks = r.blocks();
    }
    Bytes read(std::uint64_t at, std::size_t n) const {
        std::ifstream in(path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(at));
        Bytes b(n);
        in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
        return b;
    }
    void write(std::uint64_t at, const Bytes& b) const {
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(at));
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    void flip(std::uint64_t at, std::uint8_t bits) const {
        Bytes b = read(at, 1);
        b[0] ^= bits;
        write(at, b);
    }
    // Changes a page, then rewrites its CRC so that only the intended defect remains.
    void editPage(std::uint64_t at, const std::function<void(Bytes&)>& edit) const {
        Bytes p = read(at, kPageSize);
        edit(p);
        PageTrailer t = PageTrailer::decode(p.data() + kPageDataSize);
        t.crc = crc32(ByteView(p.data(), kPageDataSize));
        t.encode(p.data() + kPageDataSize);
        write(at, p);
    }
    // The first leaf of a B-tree (Outlook's blank store has at most two levels).
    std::uint64_t firstLeaf(const BlockRef& root) const {
        const Bytes page = read(root.ib, kPageSize);
        return BTPage::decode(page.data()).cLevel > 0 ? BTEntry::decode(page.data()).ref.ib
                                                      : root.ib;
    }
};

} // namespace

TEST(PstCheck, AcceptsOutlookBlankStore) {
    const auto report = checkFile(psttest::blankReference());
    EXPECT_TRUE(report.ok()) << (report.faults.empty() ? "" : report.faults.front());
    EXPECT_EQ(report.nodes, 47u);
    EXPECT_EQ(report.blocks, 31u);
}

TEST(PstCheck, FindsEachDefectInACopyOfTheBlankStore) {
    const struct {
        const char* name;
        const char* fault;
        std::function<void(const BlankCopy&)> damage;
    } cases[] = {
        {"BlockCrc", "block CRC mismatch",
         [](const BlankCopy& f) { f.flip(f.blocks.begin()->ib, 0x01); }},
        // Unused entry space of the NBT root page.
        {"PageCrc", "page CRC mismatch",
         [](const BlankCopy& f) { f.flip(f.header.nbt.ib + 480, 0x40); }},
        {"AMapBitSet", "marks space nothing uses",
         [](const BlankCopy& f) {
             // A free 64-byte unit near the end of the first section, marked as used.
             f.editPage(0x4400, [](Bytes& p) {
                 ASSERT_NE(p[495], 0xFF);
                 p[495] |= 0x01;
             });
         }},
        {"AMapBitCleared", "leaves used space unmarked",
         [](const BlankCopy& f) { f.editPage(0x4400, [](Bytes& p) { p[0] &= 0x7F; }); }},
        {"BlockSignature", "bad block signature",
         [](const BlankCopy& f) {
             const BbtEntry& e = *std::next(f.blocks.begin(), 3);
             f.flip(e.ib + blockStoredSize(e.cb) - 16 + 2, 0xFF);
         }},
        {"PageSignature", "bad page signature",
         [](const BlankCopy& f) { f.flip(f.header.bbt.ib + 496 + 3, 0x10); }},
        {"KeysOutOfOrder", "keys out of order",
         [](const BlankCopy& f) {
             const std::uint64_t leaf = f.firstLeaf(f.header.nbt);
             ASSERT_NE(leaf, f.header.nbt.ib);
             f.editPage(leaf, [](Bytes& p) {
                 ASSERT_GE(BTPage::decode(p.data()).cEnt, 2);
                 std::swap_ranges(p.begin(), p.begin() + 32, p.begin() + 32);
             });
         }},
        {"HeaderCrc", "header checksum", [](const BlankCopy& f) { f.flip(100, 0x01); }},
        {"ReferenceCount", "holder(s)",
         [](const BlankCopy& f) {
             f.editPage(f.firstLeaf(f.header.bbt), [](Bytes& p) {
                 BbtEntry first = BbtEntry::decode(p.data());
                 ++first.cRef;
                 first.encode(p.data());
             });
         }},
        // 244 entries of 2 bytes pass the 488-byte bound, but a 32-byte NBTENTRY read at the
        // last one would run past the 512-byte page.
        {"EntriesSmallerThanTheirKind", "corrupt B-tree page",
         [](const BlankCopy& f) {
             f.editPage(f.firstLeaf(f.header.nbt), [](Bytes& p) {
                 BTPage counts = BTPage::decode(p.data());
                 counts.cEnt = 244;
                 counts.cbEnt = 2;
                 counts.encode(p.data());
             });
         }},
        {"Truncated", "file size",
         [](const BlankCopy& f) {
             std::filesystem::resize_file(f.path, std::filesystem::file_size(f.path) - 512);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BlankCopy file(c.name);
        c.damage(file);
        std::string faults;
        for (const auto& f : checkFile(file.path).faults) {
            faults += "\n  " + f;
        }
        EXPECT_NE(faults.find(c.fault), std::string::npos) << "faults:" << faults;
    }
}

// The subnode and data trees of a written message: the blank store has none. Each defect is
// made with the block's CRC rewritten, so that only the tree itself is wrong.
TEST(PstCheck, FindsDefectsInTheTreesOfAMessage) {
    auto message = psttest::sampleMessage(1);
    mbx::mapi::Attachment attachment;
    attachment.props.set(mbx::mapi::tags::AttachLongFilename, std::string("data.bin"));
    attachment.props.set(mbx::mapi::tags::AttachDataBinary, Bytes(20000, 0x5A)); // an XBLOCK
    message.attachments.push_back(std::move(attachment));
    Bytes written;
    {
        auto w = PstWriter::createInMemory(written, "Trees");
        w->addMessage(w->addFolder(w->ipmSubtree(), "Inbox"), message);
        w->close();
    }
    ASSERT_TRUE(checkImage(written).ok());
    const NdbReader reader(written);
    // An internal block of `type` (1 a data tree, 2 a subnode tree) with two entries or more.
    const auto internal = [&reader](std::uint8_t type) {
        for (const auto& e : reader.blocks()) {
            if (!bidIsInternal(e.bid))
                continue;
            const Bytes b = reader.readBlock(e.bid);
            if (b.at(0) == type && (b.at(2) | b.at(3) << 8) >= 2)
                return e;
        }
        ADD_FAILURE() << "no internal block of type " << int{type};
        return BbtEntry{};
    };
    const auto damaged = [&written](const BbtEntry& e, const std::function<void(Bytes&)>& edit) {
        Bytes copy = written;
        std::uint8_t* block = copy.data() + e.ib;
        Bytes data(block, block + e.cb);
        edit(data);
        std::copy(data.begin(), data.end(), block);
        std::uint8_t* trailer = block + blockStoredSize(e.cb) - kTrailerSize;
        BlockTrailer t = BlockTrailer::decode(trailer);
        t.crc = crc32(ByteView(data));
        t.encode(trailer);
        std::string faults;
        for (const auto& f : checkImage(copy).faults)
            faults += "\n  " + f;
        return faults;
    };
    const BbtEntry subnodes = internal(2);
    const BbtEntry dataTree = internal(1);
    const std::string swapped = damaged(subnodes, [](Bytes& b) {
        std::swap_ranges(b.begin() + 8, b.begin() + 32, b.begin() + 32);
    });
    EXPECT_NE(swapped.find("subnodes out of order"), std::string::npos) << swapped;
    const std::string total = damaged(dataTree, [](Bytes& b) { ++b.at(4); }); // lcbTotal
    EXPECT_NE(total.find("lcbTotal"), std::string::npos) << total;
}

TEST(PstCheckTool, ExitCodes) {
    const auto [good, goodOutput] = psttest::runCommand(std::string(PSTCHECK) + " " +
                                                        psttest::quoted(psttest::blankReference()));
    EXPECT_EQ(good, 0) << goodOutput;
    const BlankCopy cut("tool-bad");
    std::filesystem::resize_file(cut.path, 0x4400);
    const auto [bad, badOutput] =
        psttest::runCommand(std::string(PSTCHECK) + " " + psttest::quoted(cut.path));
    EXPECT_EQ(bad, 1);
    EXPECT_NE(badOutput.find("fault"), std::string::npos) << badOutput;
}
