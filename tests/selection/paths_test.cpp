#include "selection/paths.h"

#include <gtest/gtest.h>

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

TEST(EnsureTrailingSeparator, AddsExactlyOne) {
    EXPECT_EQ(ensureTrailingSeparator("/out"), "/out/");
    EXPECT_EQ(ensureTrailingSeparator("/out/"), "/out/");
    EXPECT_EQ(ensureTrailingSeparator("/"), "/");
    EXPECT_EQ(ensureTrailingSeparator(""), "/");
}
