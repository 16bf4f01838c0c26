#include "selection/paths.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

using namespace mbx::paths;

namespace {
// The path with this system's separator where '/' is written.
std::string native(std::string path) {
    std::replace(path.begin(), path.end(), '/', kSeparator);
    return path;
}
} // namespace

TEST(FileNameOfPath, TakesTheTextAfterTheLastSeparator) {
    EXPECT_EQ(fileNameOfPath(native("/home/ann/Mail/In.mbx")), "In.mbx");
    EXPECT_EQ(fileNameOfPath("In.mbx"), "In.mbx");
    EXPECT_EQ(fileNameOfPath(native("/home/ann/Mail/")), "");
    EXPECT_EQ(fileNameOfPath(native("//server/share/Out.mbox")), "Out.mbox");
    EXPECT_EQ(fileNameOfPath(" spaced .mbx "), " spaced .mbx ");
#ifndef _WIN32
    // Here a backslash is a letter of a name.
    EXPECT_EQ(fileNameOfPath("C:\\Mail\\In.mbx"), "C:\\Mail\\In.mbx");
#endif
}

TEST(EnsureTrailingSeparator, AddsExactlyOne) {
    EXPECT_EQ(ensureTrailingSeparator(native("/out")), native("/out/"));
    EXPECT_EQ(ensureTrailingSeparator(native("/out/")), native("/out/"));
    EXPECT_EQ(ensureTrailingSeparator(native("/")), native("/"));
    EXPECT_EQ(ensureTrailingSeparator(""), native("/"));
}
