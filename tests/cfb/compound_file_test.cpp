// Compound files built by our writer, read back by olefile (strict), with the sibling trees
// checked from the raw directory (check_cfb.py), and by our own reader. The .msg round trips run
// msgconvert and msgreader over the same writer.
#include "mailstore/cfb/compound_file.h"
#include "mailstore/cfb/reader.h"
#include "tests/support/files.h"

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <random>

namespace fs = std::filesystem;
using mbx::cfb::CompoundFile;
using mbx::testing::quoted;
using mbx::testing::runCommand;

namespace {

std::vector<std::uint8_t> noise(std::size_t size, std::uint32_t salt) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937 rng(salt);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    return bytes;
}

// Adds a stream and writes its bytes under `expected` (storages as folders) for the checker.
void add(CompoundFile& file, CompoundFile::Id parent, const fs::path& expected,
         const std::string& name, std::vector<std::uint8_t> data, bool view = false) {
    mbx::testing::writeFile(
        expected / name, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (view) {
        static std::vector<std::vector<std::uint8_t>> kept; // outlives write()
        kept.push_back(std::move(data));
        file.addStreamView(parent, name, kept.back());
    } else {
        file.addStream(parent, name, std::move(data));
    }
}

} // namespace

// Stream sizes either side of every unit (64-byte mini sector, 512-byte sector, the 4,096-byte
// mini-stream cutoff), one stream large enough for more than 109 FAT sectors (so the DIFAT is
// used), a storage of 3,000 entries and nested storages; on disk and in memory alike.
TEST(CompoundFile, RoundTripAtEveryBoundary) {
    const fs::path dir = mbx::testing::scratchDir("boundaries");
    const fs::path expected = dir / "expected";
    CompoundFile file(mbx::cfb::Clsid{1, 2, 3});
    std::uint32_t salt = 0;
    for (const std::size_t size : {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8192}) {
        add(file, CompoundFile::kRoot, expected, "s" + std::to_string(size), noise(size, ++salt));
    }
    add(file, CompoundFile::kRoot, expected, "large", noise((8u << 20) + 1, ++salt), true);
    const auto many = file.addStorage(CompoundFile::kRoot, "Many");
    for (int i = 0; i < 3000; ++i) {
        // Names of every length and both cases, so that the order is length first, then case-blind.
        // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "N" + std::string&&.
        std::string name(1, i % 2 ? 'n' : 'N');
        name.append(static_cast<std::size_t>(i % 26), 'x');
        name += std::to_string(i);
        add(file, many, expected / "Many", name, noise(static_cast<std::size_t>(i % 70), ++salt));
    }
    auto inner = file.addStorage(CompoundFile::kRoot, "Outer");
    inner = file.addStorage(inner, "Inner", mbx::cfb::Clsid{9});
    add(file, inner, expected / "Outer/Inner", "deep", noise(5000, ++salt));

    const fs::path path = dir / "test.cfb";
    {
        mbx::cfb::FileOutput out(path);
        file.write(out);
        out.commit();
    }
    std::vector<std::uint8_t> image;
    mbx::cfb::MemoryOutput memory(image);
    file.write(memory);
    const std::string onDisk = mbx::testing::slurp(path);
    EXPECT_EQ(onDisk.size(), file.fileSize());
    EXPECT_EQ(onDisk.size() % 512, 0u);
    ASSERT_EQ(onDisk, std::string(image.begin(), image.end()));
    mbx::cfb::HeaderImage header;
    std::memcpy(&header, image.data(), sizeof header);
    EXPECT_GT(header.fatSectors.get(), 109u);
    EXPECT_GT(header.difatSectors.get(), 0u);

    const auto [status, output] = runCommand(
        "/usr/bin/python3 " + quoted(fs::path(MBX_SOURCE_DIR) / "tests/cfb/check_cfb.py") + " " +
        quoted(path) + " " + quoted(expected));
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("ok 3014 streams"), std::string::npos) << output;

    // Our own reader (behind the .msg read-back) finds every stream with its bytes.
    using mbx::cfb::CompoundFileReader;
    const auto reader = CompoundFileReader::open(path);
    std::size_t streams = 0;
    for (const auto& e : fs::recursive_directory_iterator(expected)) {
        if (!e.is_regular_file()) {
            continue;
        }
        std::optional<CompoundFileReader::Id> id = CompoundFileReader::kRoot;
        for (const auto& part : e.path().lexically_relative(expected)) {
            id = id ? reader.find(*id, part.string()) : std::nullopt;
        }
        ASSERT_TRUE(id) << e.path();
        const auto bytes = reader.stream(*id);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), mbx::testing::slurp(e.path()))
            << e.path();
        ++streams;
    }
    EXPECT_EQ(streams, 3014u);
}

TEST(CompoundFile, RefusesNamesTheFormatCannotHold) {
    CompoundFile file;
    EXPECT_THROW(file.addStream(CompoundFile::kRoot, std::string(32, 'a'), {}), mbx::cfb::CfbError);
    EXPECT_THROW(file.addStream(CompoundFile::kRoot, "a/b", {}), mbx::cfb::CfbError);
    EXPECT_THROW(file.addStream(CompoundFile::kRoot, "", {}), mbx::cfb::CfbError);
    file.addStream(CompoundFile::kRoot, std::string(31, 'a'), {});
    // Names are compared without regard to case: these two would be one entry to a reader.
    file.addStream(CompoundFile::kRoot, "Name", {1});
    file.addStream(CompoundFile::kRoot, "NAME", {2});
    std::vector<std::uint8_t> image;
    mbx::cfb::MemoryOutput out(image);
    EXPECT_THROW(file.write(out), mbx::cfb::CfbError);
}

// Our writer lays each stream's sectors out one after another, and the reader hands such runs on
// as one piece; another writer's file may chain them in any order. Here the second and third
// sectors of a large stream, and of the mini stream that holds the small ones, are swapped on
// disk and their chains mended: the reader must give the same bytes.
TEST(CompoundFile, ReaderFollowsChainsOutOfOrder) {
    CompoundFile file;
    const auto large = noise(16 * 512, 7);
    const auto small = noise(3000, 8);
    file.addStream(CompoundFile::kRoot, "a", large);
    file.addStream(CompoundFile::kRoot, "b", small);
    std::vector<std::uint8_t> image;
    mbx::cfb::MemoryOutput out(image);
    file.write(out);
    mbx::cfb::HeaderImage header;
    std::memcpy(&header, image.data(), sizeof header);
    const auto sectorAt = [](std::uint32_t s) { return (std::size_t{s} + 1) * 512; };
    std::uint8_t* fat = image.data() + sectorAt(header.difat[0].get());
    const auto swapSecondAndThird = [&](std::uint32_t s) {
        ASSERT_EQ(mbx::readLe32(fat + 4 * s), s + 1); // laid out in order
        ASSERT_EQ(mbx::readLe32(fat + 4 * (s + 1)), s + 2);
        std::swap_ranges(image.begin() + static_cast<std::ptrdiff_t>(sectorAt(s + 1)),
                         image.begin() + static_cast<std::ptrdiff_t>(sectorAt(s + 2)),
                         image.begin() + static_cast<std::ptrdiff_t>(sectorAt(s + 2)));
        const std::uint32_t after = mbx::readLe32(fat + 4 * (s + 2));
        mbx::writeLe32(fat + 4 * s, s + 2);
        mbx::writeLe32(fat + 4 * (s + 2), s + 1);
        mbx::writeLe32(fat + 4 * (s + 1), after);
    };
    std::optional<std::uint32_t> largeStart;
    std::optional<std::uint32_t> miniStreamStart;
    // Three entries: the directory's first sector holds them all.
    const std::size_t directory = sectorAt(header.firstDirectorySector.get());
    for (std::size_t at = directory; at < directory + 512; at += 128) {
        mbx::cfb::DirectoryEntryImage e;
        std::memcpy(&e, image.data() + at, sizeof e);
        if (e.objectType == static_cast<std::uint8_t>(mbx::cfb::ObjectType::Root)) {
            miniStreamStart = e.startSector.get();
        } else if (e.nameLength.get() == 4 && e.name[0].get() == u'a') {
            largeStart = e.startSector.get();
        }
    }
    ASSERT_TRUE(largeStart && miniStreamStart);
    swapSecondAndThird(*largeStart);
    swapSecondAndThird(*miniStreamStart);
    const mbx::cfb::CompoundFileReader reader(std::move(image));
    const auto a = reader.find(mbx::cfb::CompoundFileReader::kRoot, "a");
    const auto b = reader.find(mbx::cfb::CompoundFileReader::kRoot, "b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(reader.stream(*a), large);
    EXPECT_EQ(reader.stream(*b), small);
}
