// The breadth-first folder walk and the mailbox-name test of the folder scan, on real trees.
#include "selection/folder_scan.h"
#include "selection/path_logger.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using mbx::selection::looksLikeMailbox;
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
    const std::string prefix = root.string() + "/";
    for (const auto& f : full) {
        out.push_back(f.rfind(prefix, 0) == 0 ? f.substr(prefix.size()) : "OUTSIDE:" + f);
    }
    return out;
}

} // namespace

TEST(PathLogger, WalksBreadthFirstWithFoldersQueuedBeforeFilesAndNamesSorted) {
    const fs::path root = freshDir("walk-bfs");
    touch(root / "b.mbx");
    touch(root / "A.mbx");
    touch(root / "zeta" / "z1.mbx");
    touch(root / "alpha" / "deeper" / "d.mbox");
    touch(root / "alpha" / "a1.mbx");
    touch(root / "alpha" / "a2.MBX");

    PathLogger logger;
    logger.init();
    logger.fullFileNamesOnly(false);
    logger.logPath(root.string());

    EXPECT_EQ(relative(logger.fullFileNames()->items(), root),
              (std::vector<std::string>{"A.mbx", "b.mbx", "alpha/a1.mbx", "alpha/a2.MBX",
                                        "zeta/z1.mbx", "alpha/deeper/d.mbox"}));
    EXPECT_EQ(logger.fileNames()->items(),
              (std::vector<std::string>{"A.mbx", "b.mbx", "a1.mbx", "a2.MBX", "z1.mbx", "d.mbox"}));
    // Folder queue: start folder, then alpha and zeta, then alpha/deeper.
    EXPECT_EQ(relative(logger.pathNames()->items(), root.parent_path()),
              (std::vector<std::string>{"walk-bfs/", "walk-bfs/alpha/", "walk-bfs/zeta/",
                                        "walk-bfs/alpha/deeper/"}));
    EXPECT_EQ(logger.pathPointers()->items(), (std::vector<std::int32_t>{1, 1, 2, 2, 3, 4}));
    EXPECT_EQ(logger.count(), 7);
    // Entry n of fullFileNames is the folder its pointer names plus the file name.
    for (std::size_t n = 1; n <= logger.fileNames()->count(); ++n) {
        const auto ptr = static_cast<std::size_t>(logger.pathPointers()->item(n));
        EXPECT_EQ(logger.fullFileNames()->item(n),
                  logger.pathNames()->item(ptr) + logger.fileNames()->item(n));
    }
}

TEST(PathLogger, TwoFileTreeAndTheObjectLifecycle) {
    const fs::path root = freshDir("walk-two");
    touch(root / "a");
    touch(root / "sub" / "b");
    PathLogger logger;
    EXPECT_EQ(logger.count(), 0);
    logger.init();
    EXPECT_TRUE(logger.fullFileNamesOnly());
    logger.fullFileNamesOnly(false);
    logger.logPath(root.string());
    EXPECT_EQ(logger.fileNames()->items(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(logger.pathPointers()->items(), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(logger.count(), 3);

    // A second walk without a new init() restarts the count, then fails on the start
    // folder's key.
    EXPECT_THROW(logger.logPath(root.string()), std::invalid_argument);
    EXPECT_EQ(logger.count(), 1);

    // Lists are shared: a kept list survives terminate() and the object.
    auto kept = logger.fullFileNames();
    logger.terminate();
    EXPECT_EQ(kept->count(), 2u);
    EXPECT_EQ(logger.count(), 1); // terminate() leaves the count alone
    logger.init();
    EXPECT_EQ(logger.fullFileNames()->count(), 0u);
    EXPECT_EQ(logger.count(), 1); // and so does init()
}

TEST(PathLogger, MissingStartFolderLogsNothing) {
    PathLogger logger;
    logger.init();
    logger.logPath((fs::path(MBX_SCRATCH_DIR) / "no-such-folder").string());
    EXPECT_EQ(logger.count(), 0);
    EXPECT_EQ(logger.fullFileNames()->count(), 0u);
    EXPECT_EQ(logger.pathNames()->count(), 0u);
}

TEST(PathLogger, NeverFollowsLinksToFoldersSoLoopsEnd) {
    const fs::path root = freshDir("walk-loop");
    touch(root / "In.mbx");
    touch(root / "sub" / "Out.mbx");
    fs::create_directory_symlink("..", root / "sub" / "back-up");
    fs::create_directory_symlink(root, root / "self");
    fs::create_symlink(root / "In.mbx", root / "link-to-file.mbx");

    PathLogger logger;
    logger.init();
    logger.logPath(root.string());
    EXPECT_EQ(relative(logger.fullFileNames()->items(), root),
              (std::vector<std::string>{"In.mbx", "link-to-file.mbx", "sub/Out.mbx"}));
}

TEST(PathLogger, SkipsAFolderThatCannotBeReadAndGoesOn) {
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
}

TEST(LooksLikeMailbox, MatchesTheTwoExtensionsInAnyCaseAfterTrimmingBlanks) {
    for (const char* yes :
         {"/m/INBOX.MBX", "/m/Sent.Mbox", "/m/in.mbx ", "/m/in.mbox   ", "/m/x.mBoX"}) {
        EXPECT_TRUE(looksLikeMailbox(yes)) << yes;
    }
    for (const char* no :
         {"/m/notes.mbx.txt", "/m/mbox", "/m/mbx", "/m/In.toc", "/m/x.mbx.bak", ""}) {
        EXPECT_FALSE(looksLikeMailbox(no)) << no;
    }
}
