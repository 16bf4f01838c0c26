// Eudora's folder tree on generated trees: a Windows tree with folder maps (nested, damaged and
// hostile lines) and a Mac tree without maps.
#include "selection/eudora_tree.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::string_literals;
using mbx::selection::EudoraTree;
using mbx::selection::readEudoraTree;
using mbx::testing::scratchDir;
using mbx::testing::writeFile;

namespace {

const std::string kMessage = "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: x\r\n\r\nx\r\n";

bool endsInMbx(const fs::path& p) {
    const auto ext = p.extension().string();
    return ext == ".mbx" || ext == ".MBX";
}

// Mac mailboxes have no extension and start with the separator.
bool macMailbox(const fs::path& p) {
    return !p.has_extension() && mbx::testing::slurp(p).rfind("From ???@???", 0) == 0;
}

// "folder/folder/name" per mailbox, with "*" after a system mailbox, and the file it came from.
std::vector<std::string> shape(const EudoraTree& tree) {
    std::vector<std::string> out;
    for (const auto& m : tree.mailboxes) {
        std::string line;
        for (const auto& f : m.folders) {
            line += f + "/";
        }
        out.push_back(line + m.name + (m.system ? "*" : "") + " <- " + m.file.filename().string());
    }
    return out;
}

} // namespace

TEST(EudoraTree, WindowsMapsGiveNamesAndNestingAndNothingInThemLosesOrLeaksAMailbox) {
    const fs::path root = scratchDir("windows-tree");
    writeFile(root / "descmap.pce", "In,IN.MBX,S,N\r\n"
                                    "Out,OUT.MBX,S,N\r\n"
                                    "Family & Friends,FAMILY~1.MBX,M,N\r\n"
                                    "Work Projects,WORKPR~1.FOL,F,N\r\n"
                                    "Gone,GONE.MBX,M,N\r\n"
                                    "Caf\xe9 Notes,CAFENO~1.MBX,M\r\n"
                                    "no commas here\r\n"
                                    "Sneaky,..\\OUTSIDE.MBX,M,N\r\n"
                                    "Bin\x01\x00"
                                    "ary,BINARY.MBX,M,N\r\n"
                                    "Twice,FAMILY~1.MBX,M,N\r\n"
                                    "Index,IN.TOC,M,N\r\n"s +
                                        std::string(300, 'L') + ",LONG.MBX,M,N\r\n");
    for (const char* name : {"IN.MBX", "OUT.MBX", "family~1.mbx", "CAFENO~1.MBX", "in.mbx",
                             "Unlisted.mbx", "IN.TOC", "LONG.MBX", "WORKPR~1.FOL/BUDGET~1.MBX"}) {
        writeFile(root / name, kMessage);
    }
    writeFile(root / "WORKPR~1.FOL" / "descmap.pce", "Budget 2003,BUDGET~1.MBX,M,N\n");
    writeFile(root / "OUTSIDE.MBX.txt", kMessage);
    writeFile(root / "Attach" / "report.pdf", "%PDF");
    // A link back up must not be walked into (systems without folder links skip this part).
    std::error_code noLinks;
    fs::create_directory_symlink("..", root / "WORKPR~1.FOL" / "loop", noLinks);

    const EudoraTree tree = readEudoraTree(root, endsInMbx);
    std::vector<std::string> expected = {"In* <- IN.MBX",
                                         "Out* <- OUT.MBX",
                                         "Family & Friends <- family~1.mbx",
                                         "Work Projects/Budget 2003 <- BUDGET~1.MBX",
                                         "Caf\xc3\xa9 Notes <- CAFENO~1.MBX",
                                         std::string(255, 'L') + " <- LONG.MBX",
                                         "Unlisted <- Unlisted.mbx"};
    // Where names differ by case only (not on Windows), "in.mbx" is a mailbox of its own.
    if (!fs::equivalent(root / "IN.MBX", root / "in.mbx")) {
        expected.push_back("in (2) <- in.mbx");
    }
    EXPECT_EQ(shape(tree), expected);
    std::vector<std::string> notes;
    for (const auto& n : tree.notes) {
        notes.push_back(n.reason);
    }
    ASSERT_EQ(notes.size(), 6u) << ::testing::PrintToString(notes);
    EXPECT_NE(notes[0].find("line 7 is not"), std::string::npos);
    EXPECT_NE(notes[1].find("line 8 names a file outside its folder"), std::string::npos);
    EXPECT_NE(notes[2].find("line 9 is not text"), std::string::npos);
    EXPECT_NE(notes[3].find("\"Gone\" as GONE.MBX, which is not there"), std::string::npos);
    EXPECT_NE(notes[4].find("\"Twice\" as FAMILY~1.MBX, listed before"), std::string::npos);
    EXPECT_NE(notes[5].find("\"Index\" as IN.TOC, which is not a mailbox"), std::string::npos);
    EXPECT_TRUE(tree.unreadable.empty());
}

TEST(EudoraTree, MacTreeIsItsFoldersAndAHugeMapIsNotRead) {
    const fs::path root = scratchDir("mac-tree");
    writeFile(root / "In", kMessage);
    writeFile(root / "In.toc", std::string(278, '\0'));
    writeFile(root / "._In", "\x00\x05\x16\x07"s);
    writeFile(root / "Family" / "Kids", kMessage);
    writeFile(root / "Family" / "photo", "\xff\xd8\xff\xe0");
    writeFile(root / "Family" / "Empty Folder" / "Settings", "not mail");
    const EudoraTree mac = readEudoraTree(root, macMailbox);
    EXPECT_EQ(shape(mac), (std::vector<std::string>{"In <- In", "Family/Kids <- Kids"}));
    EXPECT_TRUE(mac.notes.empty());

    const fs::path big = scratchDir("huge-map");
    writeFile(big / "A.MBX", kMessage);
    writeFile(big / "descmap.pce",
              std::string(mbx::selection::kMaxFolderMapBytes + 1, 'x') + ",A.MBX,M\r\n");
    const EudoraTree huge = readEudoraTree(big, endsInMbx);
    EXPECT_EQ(shape(huge), (std::vector<std::string>{"A <- A.MBX"}));
    ASSERT_EQ(huge.notes.size(), 1u);
    EXPECT_NE(huge.notes[0].reason.find("larger than"), std::string::npos);
}
