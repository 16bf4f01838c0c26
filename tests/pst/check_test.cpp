// The structural checker must accept Outlook's own blank store and reject copies of it with one
// defect each, since the Debian readers accept all of these defects silently.
#include "mailstore/pst/check.h"
#include "mailstore/pst/ndb/crc.h"
#include "mailstore/pst/ndb/reader.h"
#include "support.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace mbx::pst;

namespace {

class PstMutatedBlank : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = psttest::scratch(
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".pst");
        std::filesystem::copy_file(psttest::blankReference(), path_,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        NdbReader r(path_);
        header_ = r.header();
        blocks_ = r.blocks();
    }
    Bytes read(std::uint64_t at, std::size_t n) {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(at));
        Bytes b(n);
        in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
        return b;
    }
    void write(std::uint64_t at, const Bytes& b) {
        std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(at));
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    // Rewrites a page's CRC so that only the intended defect remains.
    void fixPageCrc(std::uint64_t at) {
        Bytes p = read(at, kPageSize);
        PageTrailer t = PageTrailer::decode(p.data() + kPageDataSize);
        t.crc = crc32(ByteView(p.data(), kPageDataSize));
        t.encode(p.data() + kPageDataSize);
        write(at, p);
    }
    // The first leaf of a B-tree (Outlook's blank store has at most two levels).
    std::uint64_t firstLeaf(const BlockRef& root) {
        const Bytes page = read(root.ib, kPageSize);
        return BTPage::decode(page.data()).cLevel > 0 ? BTEntry::decode(page.data()).ref.ib
                                                      : root.ib;
    }
    ::testing::AssertionResult faultMentions(const std::string& text) {
        const auto report = checkFile(path_);
        for (const auto& f : report.faults)
            if (f.find(text) != std::string::npos)
                return ::testing::AssertionSuccess();
        auto r = ::testing::AssertionFailure() << "no fault mentions \"" << text << "\"; faults:";
        for (const auto& f : report.faults)
            r << "\n  " << f;
        return r;
    }
    std::filesystem::path path_;
    Header header_;
    std::map<Bid, BbtEntry> blocks_;
};

} // namespace

TEST(PstCheck, AcceptsOutlookBlankStore) {
    const auto report = checkFile(psttest::blankReference());
    EXPECT_TRUE(report.ok()) << (report.faults.empty() ? "" : report.faults.front());
    EXPECT_EQ(report.nodes, 47u);
    EXPECT_EQ(report.blocks, 31u);
}

TEST_F(PstMutatedBlank, BadBlockCrc) {
    const BbtEntry& e = blocks_.begin()->second;
    Bytes b = read(e.ib, 1);
    b[0] ^= 0x01;
    write(e.ib, b);
    EXPECT_TRUE(faultMentions("block CRC mismatch"));
}

TEST_F(PstMutatedBlank, BadPageCrc) {
    Bytes b = read(header_.nbt.ib + 480, 1); // unused entry space of the root page
    b[0] ^= 0x40;
    write(header_.nbt.ib + 480, b);
    EXPECT_TRUE(faultMentions("page CRC mismatch"));
}

TEST_F(PstMutatedBlank, WrongAMapBit) {
    // Mark one free 64-byte unit near the end of the first section as used.
    Bytes b = read(0x4400 + 495, 1);
    ASSERT_NE(b[0], 0xFF);
    b[0] |= 0x01;
    write(0x4400 + 495, b);
    fixPageCrc(0x4400);
    EXPECT_TRUE(faultMentions("marks space nothing uses"));
}

TEST_F(PstMutatedBlank, ClearedAMapBit) {
    Bytes b = read(0x4400, 1);
    b[0] &= 0x7F; // the AMap page's own unit
    write(0x4400, b);
    fixPageCrc(0x4400);
    EXPECT_TRUE(faultMentions("leaves used space unmarked"));
}

TEST_F(PstMutatedBlank, WrongBlockSignature) {
    const BbtEntry& e = std::next(blocks_.begin(), 3)->second;
    const std::uint64_t trailer = e.ib + blockStoredSize(e.cb) - 16;
    Bytes t = read(trailer, 16);
    t[2] ^= 0xFF;
    write(trailer, t);
    EXPECT_TRUE(faultMentions("bad block signature"));
}

TEST_F(PstMutatedBlank, WrongPageSignature) {
    Bytes t = read(header_.bbt.ib + 496, 16);
    t[3] ^= 0x10;
    write(header_.bbt.ib + 496, t);
    EXPECT_TRUE(faultMentions("bad page signature"));
}

TEST_F(PstMutatedBlank, BTreeKeysOutOfOrder) {
    // The NBT root of Outlook's blank store is an intermediate page; swap the first two entries
    // of its first leaf.
    const std::uint64_t leaf = firstLeaf(header_.nbt);
    ASSERT_NE(leaf, header_.nbt.ib);
    Bytes page = read(leaf, kPageSize);
    ASSERT_GE(BTPage::decode(page.data()).cEnt, 2);
    std::swap_ranges(page.begin(), page.begin() + 32, page.begin() + 32);
    write(leaf, page);
    fixPageCrc(leaf);
    EXPECT_TRUE(faultMentions("keys out of order"));
}

TEST_F(PstMutatedBlank, HeaderCrc) {
    Bytes b = read(100, 1);
    b[0] ^= 0x01;
    write(100, b);
    EXPECT_TRUE(faultMentions("header checksum"));
}

TEST_F(PstMutatedBlank, WrongReferenceCount) {
    // Raise the cRef of the first BBT leaf entry, then fix the leaf page CRC.
    const std::uint64_t leaf = firstLeaf(header_.bbt);
    Bytes page = read(leaf, kPageSize);
    BbtEntry first = BbtEntry::decode(page.data());
    ++first.cRef;
    first.encode(page.data());
    write(leaf, page);
    fixPageCrc(leaf);
    EXPECT_TRUE(faultMentions("holder(s)"));
}

TEST_F(PstMutatedBlank, EntriesSmallerThanTheirKindAreRefused) {
    // 244 entries of 2 bytes pass the 488-byte bound, but a 32-byte NBTENTRY read at the last
    // one would run past the 512-byte page.
    const std::uint64_t leaf = firstLeaf(header_.nbt);
    Bytes page = read(leaf, kPageSize);
    BTPage counts = BTPage::decode(page.data());
    counts.cEnt = 244;
    counts.cbEnt = 2;
    counts.encode(page.data());
    write(leaf, page);
    fixPageCrc(leaf);
    EXPECT_TRUE(faultMentions("corrupt B-tree page"));
}

TEST_F(PstMutatedBlank, TruncatedFile) {
    std::filesystem::resize_file(path_, std::filesystem::file_size(path_) - 512);
    EXPECT_TRUE(faultMentions("file size"));
}

TEST(PstCheckTool, ExitCodes) {
    const auto good =
        psttest::run(std::string(PSTCHECK) + " '" + psttest::blankReference().string() + "'");
    EXPECT_EQ(good.exitCode, 0) << good.output;
    const auto path = psttest::scratch("tool-bad.pst");
    std::filesystem::copy_file(psttest::blankReference(), path,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    std::filesystem::resize_file(path, 0x4400);
    const auto bad = psttest::run(std::string(PSTCHECK) + " '" + path.string() + "'");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.output.find("fault"), std::string::npos) << bad.output;
}
