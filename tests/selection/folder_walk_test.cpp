// The breadth-first folder walk of the folder scan, on real trees; the mailbox-name test is
// covered through the window's folder scan.
#include "selection/folder_scan.h"
#include "selection/path_logger.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using mbx::selection::PathLogger;

namespace {

fs::path freshDir(const std::string& name) {
    const fs::path p = fs::path(MBX_SCRATCH_DIR) / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

void touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "From ???@??? Mon\r\n";
}

std::vector<std::string> relative(const std::vector<std::string>& full, const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& f : full) {
        const fs::path rel = fs::path(f).lexically_relative(root);
        const bool inside = !rel.empty() && *rel.begin() != "..";
        out.push_back(inside ? rel.generic_string() : "OUTSIDE:" + f);
    }
    return out;
}

} // namespace

TEST(PathLogger, WalksBreadthFirstWithFilesBeforeSubfoldersAndNamesSorted) {
    const fs::path root = freshDir("walk-bfs");
    touch(root / "b.mbx");
    touch(root / "A.mbx");
    touch(root / "zeta" / "z1.mbx");
    touch(root / "alpha" / "deeper" / "d.mbox");
    touch(root / "alpha" / "a1.mbx");
    touch(root / "alpha" / "a2.MBX");

    PathLogger logger;
    logger.init();
    logger.logPath(root.string());
    EXPECT_EQ(relative(logger.fullFileNames()->items(), root),
              (std::vector<std::string>{"A.mbx", "b.mbx", "alpha/a1.mbx", "alpha/a2.MBX",
                                        "zeta/z1.mbx", "alpha/deeper/d.mbox"}));
}

TEST(PathLogger, NeverFollowsLinksToFoldersSoLoopsEnd) {
    const fs::path root = freshDir("walk-loop");
    touch(root / "In.mbx");
    touch(root / "sub" / "Out.mbx");
    std::error_code noLinks;
    fs::create_directory_symlink("..", root / "sub" / "back-up", noLinks);
    if (noLinks) {
        GTEST_SKIP() << "this system makes no links to folders: " << noLinks.message();
    }
    fs::create_directory_symlink(root, root / "self");
    fs::create_symlink(root / "In.mbx", root / "link-to-file.mbx");

    PathLogger logger;
    logger.init();
    logger.logPath(root.string());
    EXPECT_EQ(relative(logger.fullFileNames()->items(), root),
              (std::vector<std::string>{"In.mbx", "link-to-file.mbx", "sub/Out.mbx"}));
}

TEST(PathLogger, SkipsAFolderThatCannotBeReadAndGoesOn) {
#ifdef _WIN32
    GTEST_SKIP() << "paths over the system's limit are built by changing folders, as POSIX allows";
#endif
    const fs::path root = freshDir("walk-unreadable");
    touch(root / "a" / "first.mbx");
    touch(root / "z" / "last.mbx");
    // A folder whose full path is longer than the system allows cannot be opened by path, even
    // by root. Build it one level at a time, relative to the working folder.
    const fs::path cwd = fs::current_path();
    fs::current_path(root / "a");
    const std::string level(200, 'd');
    for (int i = 0; i < 25; ++i) {
        fs::create_directory(level);
        fs::current_path(level);
    }
    std::ofstream("hidden.mbx") << "x";
    fs::current_path(cwd);

    PathLogger logger;
    logger.init();
    logger.logPath(root.string());
    const auto found = relative(logger.fullFileNames()->items(), root);
    EXPECT_EQ(found.front(), "a/first.mbx");
    EXPECT_EQ(found.back(), "z/last.mbx");
    EXPECT_EQ(found.size(), 2u);
    // ... and says which folder it could not read, and why.
    ASSERT_EQ(logger.unreadable().size(), 1u);
    EXPECT_EQ(logger.unreadable()[0].error, std::errc::filename_too_long);
}

// Mac Eudora's mailboxes have no extension; what lies beside them is never taken for one.
TEST(FolderScan, TakesExtensionlessMacMailboxesOnly) {
    const fs::path root = freshDir("walk-mac");
    std::ofstream(root / "In") << "From ???@??? Mon Jan 01 00:00:00 2001\rSubject: x\r";
    std::ofstream(root / "Family") << "From ???@??? Mon\r\n";
    std::ofstream(root / "In.toc") << "From ???@??? not a mailbox by name";
    std::ofstream(root / "._In") << "From ???@??? an AppleDouble file";
    std::ofstream(root / "Eudora Settings") << "\x00\x05settings";
    std::ofstream(root / "Notes") << "Fro";
    std::ofstream(root / "Out.mbx") << "";
    fs::create_directories(root / "Folder");
    const auto found = mbx::selection::mailboxesInFolder(root.string());
    EXPECT_EQ(relative(found, root), (std::vector<std::string>{"Family", "In", "Out.mbx"}));
}
