// Algorithms and layout rules of the node database, checked against known answers from the
// [MS-PST] §3 sample dumps and against the placement rules of the allocation maps.
#include "mailstore/pst/ndb/crc.h"
#include "mailstore/pst/ndb/layout.h"
#include "mailstore/pst/ndb/permute.h"

#include <gtest/gtest.h>

using namespace mbx::pst;

TEST(PstSignature, KnownAnswers) {
    // [MS-PST] §3.3 page at 0x8200, BID 0x206 -> 0x8006 (from the sample dump).
    EXPECT_EQ(blockSignature(0x8200, 0x206), 0x8006);
    EXPECT_EQ(blockSignature(0x594D80, 0x1386), 0x5E5F);
}

TEST(PstPermute, RoundTripsEveryByte) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    Bytes enc = all;
    permuteEncode(enc.data(), enc.size());
    EXPECT_NE(enc, all);
    Bytes sorted = enc;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, all); // a permutation
    permuteDecode(enc.data(), enc.size());
    EXPECT_EQ(enc, all);
}

TEST(PstLayout, MapPagePlacement) {
    EXPECT_EQ(sectionOffset(0), 0x4400u);
    EXPECT_EQ(sectionOffset(1), 0x4400u + 0x3E000u);
    EXPECT_TRUE(sectionHasPMap(0));
    EXPECT_FALSE(sectionHasPMap(7));
    EXPECT_TRUE(sectionHasPMap(8));
    EXPECT_FALSE(sectionHasFMap(127));
    EXPECT_TRUE(sectionHasFMap(128));
    EXPECT_EQ(sectionOffset(128) + 0x400, 0x1F04800u); // first FMap
    EXPECT_TRUE(sectionHasFMap(624));
    EXPECT_FALSE(sectionHasFPMap(128));
    EXPECT_TRUE(sectionHasFPMap(8192));
    EXPECT_EQ(sectionOffset(8192) + 0x400, 0x7C004800u); // first FPMap
    EXPECT_FALSE(sectionHasFMap(8192));
    EXPECT_FALSE(sectionHasFPMap(8200));
    EXPECT_EQ(sectionMapPages(0), 2u);
    EXPECT_EQ(sectionMapPages(1), 1u);
    EXPECT_EQ(sectionMapPages(128), 3u);
    EXPECT_EQ(sectionMapPages(8192), 3u);
    EXPECT_EQ(blockStoredSize(0), 64u);
    EXPECT_EQ(blockStoredSize(48), 64u);
    EXPECT_EQ(blockStoredSize(49), 128u);
    EXPECT_EQ(blockStoredSize(8176), 8192u);
}

TEST(PstCrc, AllLengthsMatchBitwiseDefinition) {
    // Against a bit-at-a-time CRC, over every length up to 300 and a running initial value: the
    // lengths reach the 64- and 16-byte folding steps, the 16- and 8-byte table loops and the tail.
    // It is zlib's CRC without the pre- and post-inversion: "123456789" gives 0x2DFD2D88.
    const std::string s = "123456789";
    EXPECT_EQ(crc32(ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size())),
              0x2DFD2D88u);
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t len = 0; len <= data.size(); ++len) {
        const std::uint32_t initial = static_cast<std::uint32_t>(len * 0x9E3779B9u);
        std::uint32_t c = initial;
        for (std::size_t i = 0; i < len; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        }
        EXPECT_EQ(crc32(ByteView(data.data(), len), initial), c) << len;
    }
}
