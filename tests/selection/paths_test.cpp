#include "selection/paths.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace mbx::paths;

TEST(FileNameOfPath, TakesTheTextAfterTheLastSeparator) {
    EXPECT_EQ(fileNameOfPath("/home/ann/Mail/In.mbx"), "In.mbx");
    EXPECT_EQ(fileNameOfPath("In.mbx"), "In.mbx");
    EXPECT_EQ(fileNameOfPath("/home/ann/Mail/"), "");
    EXPECT_EQ(fileNameOfPath("//server/share/Out.mbox"), "Out.mbox");
    // Only the platform separator separates.
    EXPECT_EQ(fileNameOfPath("C:\\Mail\\In.mbx"), "C:\\Mail\\In.mbx");
    EXPECT_EQ(fileNameOfPath(" spaced .mbx "), " spaced .mbx ");
}

TEST(FileNameOfPath, EmptyTextIsAnErrorTheCallerMustHandle) {
    EXPECT_THROW(fileNameOfPath(""), NoComponentError);
    EXPECT_THROW(fileNameOfPath(""), std::out_of_range);
}

TEST(EnsureTrailingSeparator, AddsExactlyOne) {
    EXPECT_EQ(ensureTrailingSeparator("/out"), "/out/");
    EXPECT_EQ(ensureTrailingSeparator("/out/"), "/out/");
    EXPECT_EQ(ensureTrailingSeparator("/"), "/");
    EXPECT_EQ(ensureTrailingSeparator(""), "/");
}

TEST(EnsureFolderExists, CreatesEveryMissingParentWithOrWithoutTrailingSeparator) {
    const fs::path root = fs::path(MBX_SCRATCH_DIR) / "ensure";
    fs::remove_all(root);
    const std::string deep = (root / "a" / "b" / "Inbox.mbx").string();
    EXPECT_TRUE(ensureFolderExists(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(ensureFolderExists(deep + "/"));
    EXPECT_TRUE(ensureFolderExists((root / "c").string() + "/"));
    EXPECT_TRUE(fs::is_directory(root / "c"));
}

TEST(EnsureFolderExists, ReportsAFolderThatCannotBeMade) {
    const fs::path root = fs::path(MBX_SCRATCH_DIR) / "ensure-blocked";
    fs::remove_all(root);
    fs::create_directories(root);
    { std::ofstream(root / "file") << "x"; }
    // A plain file stands where a folder would have to be.
    EXPECT_FALSE(ensureFolderExists((root / "file" / "sub").string()));
}
