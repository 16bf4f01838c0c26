// mbxvane-convert as users and scripts rely on it: exit codes and one-line errors, folders
// searched like the window's folder scan, the report, Ctrl-C leaving complete files, and the
// progress line on a terminal.
#include "cli/convert_command.h"
#include "cli/interrupt.h"
#include "mailstore/pst/check.h"
#include "tests/support/eudora_toc.h"
#include "tests/support/files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using mbx::testing::quoted;
using mbx::testing::runCommand;
using mbx::testing::slurp;
using mbx::testing::writeFile;

namespace {

fs::path scratch(const std::string& name) {
    const auto p = fs::path(MBX_SCRATCH_DIR) / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

// Message k of a mailbox written by mailboxText.
std::string messageText(const std::string& tag, int k) {
    return "From ???@??? Mon Jan 01 10:00:00 2001\r\nFrom: ann@example.org\r\nTo: "
           "bob@example.org\r\nSubject: " +
           tag + " " + std::to_string(k) + "\r\nDate: Mon, 1 Jan 2001 10:00:00 +0000\r\n\r\n" +
           "Body of " + tag + " " + std::to_string(k) + ".\r\n\r\n";
}

// A mailbox of `count` small messages.
std::string mailboxText(int count, const std::string& tag) {
    std::string text;
    for (int k = 0; k < count; ++k) {
        text += messageText(tag, k);
    }
    return text;
}

// The message file of message k: its bytes as they stand in the mailbox, then CR LF.
std::string messageOf(const std::string& tag, int k) {
    return messageText(tag, k) + "\r\n";
}

// The mailbox's folder under the output folder: its absolute path repeated there.
fs::path mailboxFolder(const fs::path& out, const fs::path& mailbox) {
    return out / fs::absolute(mailbox).relative_path();
}

std::pair<int, std::string> convert(const std::string& arguments) {
    return runCommand(std::string(MBXVANE_CONVERT) + " " + arguments);
}

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ConvertCommand, BadUsageAndMissingInputsExitTwoWithAOneLineReason) {
    const auto dir = scratch("usage");
    writeFile(dir / "In.mbx", mailboxText(1, "in"));
    writeFile(dir / "empty" / "notes.txt", "no mailbox here");
    writeFile(dir / "a-file", "x");
    writeFile(dir / "taken.pst", "x");
    const auto in = quoted(dir / "In.mbx");
    const auto out = quoted(dir / "out");
    const struct {
        std::string arguments;
        std::string reason;
    } cases[] = {
        {"--format pdf --out " + out + " " + in, "unknown format 'pdf'"},
        {"--out " + out + " " + in, "--format is required"},
        {"--format eml " + in, "--out DIR is required"},
        {"--format eml --out " + out, "no mailbox or folder given"},
        {"--format eml --colour --out " + out + " " + in, "Unknown option 'colour'"},
        {"--format eml --out " + out + " " + quoted(dir / "Missing.mbx"),
         "Missing.mbx: no such file or folder"},
        {"--format eml --out " + out + " " + quoted(dir / "empty"), "nothing to convert"},
        {"--format eml --out " + quoted(dir / "a-file" / "out") + " " + in,
         "cannot create the output folder"},
        {"--format eml --out " + quoted(dir / "a-file") + " " + in, "a-file: not a folder"},
        {"--format pst --attachments " + quoted(dir / "Attach") + " --out " + out + " " + in,
         "no such folder (--attachments)"},
        {"--format msg --single-file " + quoted(dir / "all.pst") + " " + in,
         "--single-file works with --format pst only"},
        {"--format pst --single-file " + quoted(dir / "all.txt") + " " + in,
         "--single-file takes the name of a .pst file"},
        {"--format pst --single-file " + quoted(dir / "taken.pst") + " " + in,
         "exists already; a data file is never replaced"},
    };
    for (const auto& c : cases) {
        const auto [code, output] = convert(c.arguments);
        EXPECT_EQ(code, 2) << c.arguments;
        EXPECT_EQ(output.rfind("mbxvane-convert: ", 0), 0u) << output;
        EXPECT_NE(output.find(c.reason), std::string::npos) << c.arguments << "\n" << output;
        // The reason, plus a pointer to --help after a usage error.
        EXPECT_LE(lineCount(output), 2) << output;
    }
    EXPECT_FALSE(fs::exists(dir / "out" / fs::absolute(dir).relative_path()))
        << "nothing is converted after an error";

    const auto [helpCode, help] = convert("--help");
    EXPECT_EQ(helpCode, 0);
    for (const char* option : {"--format", "--out", "--single-file", "--attachments", "--report",
                               "--quiet", "--no-verify"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    const auto [versionCode, version] = convert("--version");
    EXPECT_EQ(versionCode, 0);
    EXPECT_EQ(version.rfind("mbxvane-convert ", 0), 0u) << version;
}

TEST(ConvertCommand, FoldersAreSearchedAtAnyDepthAndEveryMessageIsWrittenAndReported) {
    const auto dir = scratch("folders");
    writeFile(dir / "Mail" / "top.mbx", mailboxText(2, "top"));
    writeFile(dir / "Mail" / "top.toc", "index");
    writeFile(dir / "Mail" / "sub" / "deeper" / "Inner.MBOX", mailboxText(3, "inner"));
    writeFile(dir / "Mail" / "sub" / "notes.mbx.txt", mailboxText(1, "not a mailbox"));
    const auto out = dir / "out";

    // The folder and, again, a mailbox inside it: each mailbox is converted once.
    const auto [code, output] =
        convert("--format eml --out " + quoted(out) + " --report " + quoted(dir / "report.txt") +
                " " + quoted(dir / "Mail") + " " + quoted(dir / "Mail" / "top.mbx"));
    ASSERT_EQ(code, 0) << output;

    // Not a terminal: one line per mailbox, the start folder's mailboxes first.
    const auto first = output.find("Mailbox 1 of 2: " + (dir / "Mail" / "top.mbx").string() +
                                   ": 2 messages written");
    const auto second =
        output.find("Mailbox 2 of 2: " + (dir / "Mail" / "sub" / "deeper" / "Inner.MBOX").string() +
                    ": 3 messages written");
    EXPECT_NE(first, std::string::npos) << output;
    EXPECT_NE(second, std::string::npos) << output;
    EXPECT_LT(first, second) << output;
    EXPECT_EQ(output.find('\r'), std::string::npos) << "no progress line in a pipe";

    const auto topFolder = mailboxFolder(out, dir / "Mail" / "top.mbx");
    const auto innerFolder = mailboxFolder(out, dir / "Mail" / "sub" / "deeper" / "Inner.MBOX");
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(slurp(topFolder / ("email-" + std::to_string(k) + ".eml")), messageOf("top", k));
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(slurp(innerFolder / ("email-" + std::to_string(k) + ".eml")),
                  messageOf("inner", k));
    }
    EXPECT_FALSE(fs::exists(topFolder / "email-2.eml"));
    EXPECT_FALSE(fs::exists(mailboxFolder(out, dir / "Mail" / "sub" / "notes.mbx.txt")));

    // Every file read back: the last line says so.
    EXPECT_TRUE(output.ends_with("\nVerified 5 of 5 messages\n")) << output;
    const auto report = slurp(dir / "report.txt");
    EXPECT_NE(report.find("Messages written: 5 of 5 found"), std::string::npos) << report;
    EXPECT_NE(report.find("Inner.MBOX: 3 of 3 written, 3 verified"), std::string::npos) << report;
    EXPECT_NE(report.find("Failures (0)"), std::string::npos) << report;
    EXPECT_FALSE(fs::exists(out / "Mbxvane report.txt")) << "no report in the output folder";

    // Quiet: nothing on the terminal, the same files.
    const auto [quietCode, quiet] = convert("--quiet --format emlx --out " + quoted(dir / "quiet") +
                                            " " + quoted(dir / "Mail"));
    EXPECT_EQ(quietCode, 0);
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(slurp(mailboxFolder(dir / "quiet", dir / "Mail" / "top.mbx") / "email-1.emlx"),
              messageOf("top", 1));
}

// What Eudora's table of contents said of each message reaches the .pst, as pst-extractor (an
// outside reader) sees it; a table that disagrees with its mailbox is a note and changes nothing.
// Attachment files come from the --attachments folders in the order given, then from Attach.
TEST(ConvertCommand, EudorasTableOfContentsAndSeveralAttachmentsFolders) {
    const auto dir = scratch("toc");
    std::string in;
    std::vector<std::uint64_t> starts;
    for (int k = 0; k < 4; ++k) {
        starts.push_back(in.size());
        in += messageText("in", k);
    }
    in += "Attachment Converted: \"C:\\Eudora\\Attach\\a.txt\"\r\n"
          "Attachment Converted: \"C:\\Eudora\\Attach\\b.txt\"\r\n"
          "Attachment Converted: \"C:\\Eudora\\Attach\\c.txt\"\r\n";
    writeFile(dir / "Mail" / "In.mbx", in);
    // Unread with priority 1 and label 2, replied with priority 5, message 2 not listed (deleted,
    // mailbox not compacted), forwarded.
    const auto toc =
        mbx::testing::windowsToc(starts, in.size(), {{0, 0, 1, 2}, {1, 2, 5, 0}, {3, 3, 3, 0}});
    writeFile(dir / "Mail" / "In.toc", std::string(toc.begin(), toc.end()));
    writeFile(dir / "Mail" / "eudora.ini", "[Labels]\r\nLabel2=255,0,0,Urgent\r\n");
    // A table written before the mailbox grew: refused whole.
    const auto refused = mailboxText(2, "refused");
    const auto stale = mbx::testing::windowsToc({0, messageText("refused", 0).size()},
                                                refused.size() - 2, {{0, 0, 1, 2}});
    writeFile(dir / "Mail" / "Refused.mbx", refused);
    writeFile(dir / "Mail" / "Refused.toc", std::string(stale.begin(), stale.end()));
    writeFile(dir / "first" / "a.txt", "first a");
    writeFile(dir / "second" / "a.txt", "second a");
    writeFile(dir / "second" / "b.txt", "second b");
    writeFile(dir / "Mail" / "Attach" / "b.txt", "attach b");
    writeFile(dir / "Mail" / "Attach" / "c.txt", "attach c");

    const auto out = dir / "out";
    const auto [code, output] =
        convert("--format pst --attachments " + quoted(dir / "first") + " --attachments " +
                quoted(dir / "second") + " --out " + quoted(out) + " --report " +
                quoted(dir / "report.txt") + " " + quoted(dir / "Mail"));
    ASSERT_EQ(code, 0) << output;
    const auto report = slurp(dir / "report.txt");
    const std::string mail = (dir / "Mail").string();
    for (const std::string& line :
         {mail + "/In.mbx: 4 of 4 written, 4 verified; Eudora's table of contents In.toc used; 1 "
                 "message not "
                 "listed in it (category \"Not in Eudora's table of contents\")\n",
          mail + "/Refused.mbx: 2 of 2 written, 2 verified; Eudora's table of contents Refused.toc "
                 "not used\n",
          mail +
              "/Refused.mbx: Eudora's table of contents Refused.toc was not used: written for a "
              "mailbox of " +
              std::to_string(refused.size() - 2) + " bytes; the mailbox has " +
              std::to_string(refused.size()) +
              "; every message was converted and stored as read\n"}) {
        EXPECT_NE(report.find(line), std::string::npos) << report;
    }

    const auto messagesIn = [&](const std::string& name) {
        const auto [status, json] =
            runCommand("node " + quoted(MBX_SOURCE_DIR "/tests/pst/pst_extractor_dump.js") + " " +
                       quoted(MBX_CHECKERS_DIR) + " " + quoted(out / (name + ".pst")) + " " +
                       quoted(dir / ("pe-" + name)));
        EXPECT_EQ(status, 0) << json;
        for (const auto& top :
             QJsonDocument::fromJson(QByteArray::fromStdString(json))["root"]["subfolders"]
                 .toArray()) {
            for (const auto& f : top.toObject()["subfolders"].toArray()) {
                if (f.toObject()["name"].toString().endsWith("/" + QString::fromStdString(name))) {
                    return f.toObject()["messages"].toArray();
                }
            }
        }
        return QJsonArray();
    };
    struct Want {
        bool read;
        int importance, verb;
    };
    const auto check = [](const QJsonArray& seen, const std::vector<Want>& want) {
        ASSERT_EQ(seen.size(), static_cast<qsizetype>(want.size()));
        for (std::size_t k = 0; k < want.size(); ++k) {
            SCOPED_TRACE(k);
            const auto m = seen[static_cast<qsizetype>(k)].toObject();
            EXPECT_EQ(m["read"].toBool(), want[k].read);
            EXPECT_EQ(m["importance"].toInt(), want[k].importance);
            EXPECT_EQ(m["lastVerb"].toInt(), want[k].verb);
        }
    };
    const auto inBox = messagesIn("In.mbx");
    check(inBox, {{false, 2, 0}, {true, 0, 102}, {true, 1, 0}, {true, 1, 104}});
    check(messagesIn("Refused.mbx"), {{true, 1, 0}, {true, 1, 0}});

    // Categories as olefile finds them in the .msg files: pst-extractor misses the last named
    // property of a data file, and Keywords is the only one here. The named property's id comes
    // from the name-to-id map (entry: name offset, GUID index and kind, property index).
    const auto [msgCode, msgOutput] =
        convert("--quiet --format msg --out " + quoted(dir / "msg") + " " + quoted(dir / "Mail"));
    ASSERT_EQ(msgCode, 0) << msgOutput;
    std::string files;
    for (const auto& [name, count] : {std::pair{"In.mbx", 4}, std::pair{"Refused.mbx", 2}}) {
        for (int k = 0; k < count; ++k) {
            files += " " + quoted(mailboxFolder(dir / "msg", dir / "Mail" / name) /
                                  ("Email-" + std::to_string(k) + ".msg"));
        }
    }
    const auto [pyCode, categories] = runCommand(
        "/usr/bin/python3 -c \"\n"
        "import olefile,sys\n"
        "for f in sys.argv[1:]:\n"
        "  o=olefile.OleFileIO(f); n='__nameid_version1.0/__substg1.0_000%d0102'\n"
        "  e=o.openstream(n%3).read(); s=o.openstream(n%4).read(); c=[]\n"
        "  for i in range(0,len(e),8):\n"
        "    at=int.from_bytes(e[i:i+4],'little'); kind=e[i+4]&1; "
        "p=0x8000+int.from_bytes(e[i+6:i+8],'little')\n"
        "    if kind and "
        "s[at+4:at+4+int.from_bytes(s[at:at+4],'little')].decode('utf-16-le')=='Keywords':\n"
        "      v=0\n"
        "      while o.exists('__substg1.0_%04X101F-%08X'%(p,v)):\n"
        "        "
        "c.append(o.openstream('__substg1.0_%04X101F-%08X'%(p,v)).read().decode('utf-16-le')."
        "rstrip(chr(0))); v+=1\n"
        "  print('|'.join(c))\n"
        "\"" +
        files);
    ASSERT_EQ(pyCode, 0) << categories;
    EXPECT_EQ(categories, "Urgent\n\nNot in Eudora's table of contents\n\n\n\n");

    ASSERT_EQ(inBox.size(), 4);
    const auto attachments = inBox[3].toObject()["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 3);
    const char* want[] = {"first a", "second b", "attach c"};
    for (qsizetype i = 0; i < 3; ++i) {
        EXPECT_EQ(slurp(attachments[i].toObject()["file"].toString().toStdString()),
                  want[static_cast<std::size_t>(i)]);
    }
}

// --single-file: Eudora's folder tree with its display names in one data file, as pst-extractor
// (an outside reader) sees it. A Windows tree (nested folder maps in windows-1252, a system
// mailbox, a listed file that is missing, a mailbox the map does not list, a detached attachment
// of a nested mailbox) alone, then with a Mac tree (no maps, mailboxes without extension): each
// PATH under a top folder of its own.
TEST(ConvertCommand, SingleFileKeepsEudorasFolderTreeAndNames) {
    const auto dir = scratch("single");
    const auto win = dir / "Eudora";
    writeFile(win / "descmap.pce", "In,IN.MBX,S,N\r\n"
                                   "Trash,TRASH.MBX,S,N\r\n"
                                   "Family & Friends,FAMILY~1.MBX,M,N\r\n"
                                   "Work Projects,WORKPR~1.FOL,F,N\r\n"
                                   "Gone,GONE.MBX,M,N\r\n"
                                   "Caf\xe9 R\xe9sum\xe9s,CAFRSU~1.MBX,M,Y\r\n");
    writeFile(win / "IN.MBX", mailboxText(2, "in"));
    writeFile(win / "TRASH.MBX", mailboxText(1, "trash"));
    writeFile(win / "FAMILY~1.MBX", mailboxText(3, "family"));
    writeFile(win / "CAFRSU~1.MBX", mailboxText(1, "cafe"));
    writeFile(win / "Unlisted.mbx", mailboxText(2, "unlisted"));
    writeFile(win / "WORKPR~1.FOL" / "descmap.pce",
              "Budget 2003,BUDGET~1.MBX,M,N\r\nOld Plans,OLDPLA~1.FOL,F,N\r\n");
    writeFile(win / "WORKPR~1.FOL" / "BUDGET~1.MBX",
              mailboxText(3, "budget") + messageText("budget", 3) +
                  "Attachment Converted: \"C:\\Eudora\\Attach\\plan.txt\"\r\n");
    writeFile(win / "WORKPR~1.FOL" / "OLDPLA~1.FOL" / "descmap.pce",
              "Q1 \x96 draft,Q1DRAF~1.MBX,M,N\r\n");
    writeFile(win / "WORKPR~1.FOL" / "OLDPLA~1.FOL" / "Q1DRAF~1.MBX", mailboxText(1, "q1"));
    writeFile(win / "Attach" / "plan.txt", "the plan");
    const auto mac = dir / "Mac Eudora";
    writeFile(mac / "In", mailboxText(2, "mac in"));
    writeFile(mac / "In.toc", std::string(278, '\0'));
    writeFile(mac / "Family" / "Kids", mailboxText(2, "kids"));
    writeFile(mac / "Family" / "Old Years" / "Caf\xc3\xa9 2003", mailboxText(1, "mac cafe"));
    writeFile(mac / "Family" / "photo.jpg", "\xff\xd8\xff\xe0");

    // "path=count" per folder of the data file under Top of Personal Folders, in its order.
    const auto tree = [&](const fs::path& pst, QJsonArray* budget) {
        const auto [status, json] =
            runCommand("node " + quoted(MBX_SOURCE_DIR "/tests/pst/pst_extractor_dump.js") + " " +
                       quoted(MBX_CHECKERS_DIR) + " " + quoted(pst) + " " + quoted(dir / "pe"));
        EXPECT_EQ(status, 0) << json;
        std::vector<std::string> out;
        const std::string top = "/Top of Personal Folders/";
        std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& f) {
            const auto name = f["name"].toString().toStdString();
            if (name.rfind(top, 0) == 0 && name != top + "Deleted Items") {
                out.push_back(name.substr(top.size()) + "=" +
                              std::to_string(f["messages"].toArray().size()));
                if (budget != nullptr && name.ends_with("/Budget 2003")) {
                    *budget = f["messages"].toArray();
                }
            }
            for (const auto& sub : f["subfolders"].toArray()) {
                walk(sub.toObject());
            }
        };
        walk(QJsonDocument::fromJson(QByteArray::fromStdString(json))["root"].toObject());
        return out;
    };

    const auto one = dir / "out" / "ann.pst";
    const auto [code, output] =
        convert("--format pst --single-file " + quoted(one) + " " + quoted(win));
    ASSERT_EQ(code, 0) << output;
    QJsonArray budget;
    EXPECT_EQ(tree(one, &budget),
              (std::vector<std::string>{"In=2", "Trash=1", "Family & Friends=3", "Work Projects=0",
                                        "Work Projects/Budget 2003=4", "Work Projects/Old Plans=0",
                                        "Work Projects/Old Plans/Q1 \xe2\x80\x93 draft=1",
                                        "Caf\xc3\xa9 R\xc3\xa9sum\xc3\xa9s=1", "Unlisted=2"}));
    ASSERT_EQ(budget.size(), 4);
    const auto attachments = budget[3].toObject()["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 1);
    EXPECT_EQ(slurp(attachments[0].toObject()["file"].toString().toStdString()), "the plan");
    // No mailbox folders beside the data file; the report (a note: a listed file is missing)
    // lies beside it and names each mailbox's folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 2);
    const auto report = slurp(dir / "out" / "Mbxvane report.txt");
    EXPECT_NE(report.find("Data file: " + one.string()), std::string::npos) << report;
    EXPECT_NE(report.find("BUDGET~1.MBX (Work Projects/Budget 2003): 4 of 4 written"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\"Gone\" as GONE.MBX, which is not there"), std::string::npos) << report;
    EXPECT_NE(output.find("Wrote 14 messages of 14 from 7 mailboxes to " + one.string()),
              std::string::npos)
        << output;

    // Both trees and another "Eudora": a top folder per PATH, the second "Eudora" told apart; a
    // mailbox named twice is converted once. --out takes the report.
    writeFile(dir / "other" / "Eudora" / "Old", mailboxText(1, "old"));
    const auto both = dir / "both.pst";
    const auto [bothCode, bothOutput] =
        convert("--quiet --format pst --single-file " + quoted(both) + " --out " +
                quoted(dir / "reports") + " " + quoted(win) + " " + quoted(mac) + " " +
                quoted(win / "IN.MBX") + " " + quoted(dir / "other" / "Eudora" / "."));
    ASSERT_EQ(bothCode, 0) << bothOutput;
    const auto all = tree(both, nullptr);
    const std::vector<std::string> macPart{"Mac Eudora=0",
                                           "Mac Eudora/In=2",
                                           "Mac Eudora/Family=0",
                                           "Mac Eudora/Family/Kids=2",
                                           "Mac Eudora/Family/Old Years=0",
                                           "Mac Eudora/Family/Old Years/Caf\xc3\xa9 2003=1",
                                           "Eudora (2)=0",
                                           "Eudora (2)/Old=1"};
    ASSERT_EQ(all.size(), 1 + 9 + macPart.size()) << ::testing::PrintToString(all);
    EXPECT_EQ(all[0], "Eudora=0");
    EXPECT_EQ(all[5], "Eudora/Work Projects/Budget 2003=4");
    EXPECT_EQ(std::vector<std::string>(all.begin() + 10, all.end()), macPart);
    EXPECT_TRUE(fs::exists(dir / "reports" / "Mbxvane report.txt"));
}

TEST(ConvertCommand, AMailboxThatCannotBeWrittenExitsOneAndIsReported) {
    const auto dir = scratch("failure");
    writeFile(dir / "Mail" / "Blocked.mbx", mailboxText(3, "blocked"));
    writeFile(dir / "Mail" / "Fine.mbx", mailboxText(2, "fine"));
    const auto out = dir / "out";
    // A file stands where the first mailbox's folder would go.
    writeFile(mailboxFolder(out, dir / "Mail" / "Blocked.mbx"), "in the way");

    const auto [code, output] = convert("--format eml --out " + quoted(out) + " --report " +
                                        quoted(dir / "report.txt") + " " + quoted(dir / "Mail"));
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find((dir / "Mail" / "Blocked.mbx").string() + ": the folder"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Fine.mbx: 2 messages written"), std::string::npos) << output;
    const auto report = slurp(dir / "report.txt");
    EXPECT_NE(report.find("Messages written: 2 of 5 found"), std::string::npos) << report;
    EXPECT_NE(report.find("Failures (1)"), std::string::npos) << report;
    // The window's report in the output folder too, named on standard error.
    EXPECT_EQ(slurp(out / "Mbxvane report.txt"), report);
    EXPECT_NE(output.find("report: " + (out / "Mbxvane report.txt").string()), std::string::npos);
}

// A folder the search cannot read (here its full path is longer than the system allows, which
// stops root too) is a failure with the system's reason; the mailboxes beside it are converted.
TEST(ConvertCommand, AFolderThatCannotBeReadIsAFailureNamedWithItsReason) {
    const auto dir = scratch("unreadable");
    writeFile(dir / "Mail" / "a" / "first.mbx", mailboxText(2, "first"));
    const fs::path cwd = fs::current_path();
    fs::current_path(dir / "Mail" / "a");
    const std::string level(200, 'd');
    fs::path deep = dir / "Mail" / "a";
    for (int i = 0; i < 25; ++i) {
        fs::create_directory(level);
        fs::current_path(level);
        deep /= level;
    }
    std::ofstream("hidden.mbx") << mailboxText(1, "hidden");
    fs::current_path(cwd);
    const auto out = dir / "out";
    const std::string reason =
        ": cannot be read: " + std::make_error_code(std::errc::filename_too_long).message();

    const auto [code, output] = convert("--format EML --out " + quoted(out) + " --report " +
                                        quoted(dir / "report.txt") + " " + quoted(dir / "Mail"));
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find("first.mbx: 2 messages written"), std::string::npos) << output;
    EXPECT_EQ(slurp(mailboxFolder(out, dir / "Mail" / "a" / "first.mbx") / "email-1.eml"),
              messageOf("first", 1));
    const auto line = output.find("mbxvane-convert: " + (dir / "Mail" / "a" / level).string());
    ASSERT_NE(line, std::string::npos) << output;
    EXPECT_NE(output.find(reason, line), std::string::npos) << output;
    const auto report = slurp(dir / "report.txt");
    EXPECT_NE(report.find("Failures (1)"), std::string::npos) << report;
    EXPECT_NE(report.find(reason), std::string::npos) << report;
    EXPECT_EQ(slurp(out / "Mbxvane report.txt"), report);

    // Named directly: that it cannot be read and why, and nothing else is done.
    const auto [directCode, direct] =
        convert("--format eml --out " + quoted(dir / "out2") + " " + quoted(deep));
    EXPECT_EQ(directCode, 1) << direct;
    EXPECT_EQ(direct, "mbxvane-convert: " + deep.string() + reason + "\n");
    EXPECT_FALSE(fs::exists(dir / "out2"));
}

// Ctrl-C delivered to the process after the fifth message: the run stops at the next message
// boundary with the interrupted exit code, what it wrote is whole, and the summary counts exactly
// the messages on disk (also those parsed on worker threads when the stop came).
class Interrupt : public ::testing::TestWithParam<mbx::cli::Target> {};

TEST_P(Interrupt, CtrlCStopsAtTheNextMessageAndTheSummaryCountsWhatIsOnDisk) {
    const auto target = GetParam();
    const auto dir = scratch("interrupt-" + std::to_string(static_cast<int>(target)));
    const auto mailbox = dir / "Many.mbx";
    writeFile(mailbox, mailboxText(40, "many"));
    writeFile(dir / "Later.mbx", mailboxText(3, "later"));

    mbx::cli::Options options;
    options.target = target;
    options.out = (dir / "out").string();
    options.report = (dir / "report.txt").string();
    options.paths = {mailbox.string(), (dir / "Later.mbx").string()};
    options.workers = 2;
    std::ostringstream out, err;
    mbx::cli::Console console{out, err, mbx::cli::ProgressPrinter::Mode::Lines, {}};
    console.afterMessage = [](std::uint64_t written) {
        if (written == 5) {
            std::raise(SIGINT);
        }
    };
    mbx::cli::interruptFlag() = false;
    mbx::cli::installInterruptHandlers();
    const int code = mbx::cli::runConversion(options, console, mbx::cli::interruptFlag());
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    EXPECT_EQ(code, mbx::cli::kExitInterrupted) << out.str() << err.str();
    EXPECT_NE(err.str().find("interrupted"), std::string::npos) << err.str();
    const auto report = slurp(dir / "report.txt");
    EXPECT_NE(report.find("stopped before the end"), std::string::npos);
    EXPECT_FALSE(fs::exists(mailboxFolder(dir / "out", dir / "Later.mbx")))
        << "no mailbox after the interrupted one is started";

    int onDisk = 0;
    if (target == mbx::cli::Target::Pst) {
        const auto pst = dir / "out" / "Many.mbx.pst";
        ASSERT_TRUE(fs::exists(pst));
        const auto check = mbx::pst::checkFile(pst);
        EXPECT_TRUE(check.ok()) << check.faults.front();
        // An independent reader counts the messages of the mailbox's folder.
        const auto [code2, count] = runCommand(
            "/usr/bin/python3 -c \"import pypff,sys\nf=pypff.file(); f.open(sys.argv[1])\n"
            "def n(d): return d.number_of_sub_messages + sum(n(s) for s in d.sub_folders)\n"
            "print(n(f.root_folder))\" " +
            quoted(pst));
        ASSERT_EQ(code2, 0) << count;
        onDisk = std::stoi(count);
    } else {
        const bool msg = target == mbx::cli::Target::Msg;
        const auto folder = mailboxFolder(dir / "out", mailbox);
        const auto file = [&](int k) {
            return folder /
                   ((msg ? "Email-" : "email-") + std::to_string(k) + (msg ? ".msg" : ".eml"));
        };
        for (; fs::exists(file(onDisk)); ++onDisk) {
            if (!msg) {
                EXPECT_EQ(slurp(file(onDisk)), messageOf("many", onDisk));
            }
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), onDisk)
            << "no partial or temporary file beside the messages";
    }
    EXPECT_GE(onDisk, 5);
    const auto wrote = "Wrote " + std::to_string(onDisk) + " messages of 40 from 1 of 2";
    EXPECT_NE(out.str().find(wrote), std::string::npos) << wrote << "\n" << out.str();
    EXPECT_NE(report.find("Messages written: " + std::to_string(onDisk) + " of 40 found"),
              std::string::npos)
        << report;
}

INSTANTIATE_TEST_SUITE_P(Targets, Interrupt,
                         ::testing::Values(mbx::cli::Target::Eml, mbx::cli::Target::Pst,
                                           mbx::cli::Target::Msg),
                         [](const auto& info) {
                             switch (info.param) {
                             case mbx::cli::Target::Pst:
                                 return "Pst";
                             case mbx::cli::Target::Msg:
                                 return "Msg";
                             default:
                                 return "Eml";
                             }
                         });

TEST(ProgressLine, RedrawsInPlaceAtMostEveryIntervalAndShowsTheFinalFigures) {
    using namespace std::chrono_literals;
    auto now = mbx::cli::ProgressPrinter::Clock::time_point{} + 1h;
    std::ostringstream out;
    mbx::cli::ProgressPrinter printer(out, mbx::cli::ProgressPrinter::Mode::Terminal,
                                      [&now] { return now; });
    const auto draws = [&out] {
        const auto text = out.str();
        return std::count(text.begin(), text.end(), '\r');
    };

    printer.begin(2, 4 << 20);
    printer.mailboxStarted(0, "/mail/a-mailbox-with-a-rather-long-name-indeed.mbx", 2 << 20);
    EXPECT_EQ(draws(), 1);
    for (int i = 1; i <= 100; ++i) {
        now += 1ms;
        printer.advanced(static_cast<std::uint64_t>(i) << 10, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(draws(), 1) << "100 updates within the interval draw nothing";
    now += 2s;
    printer.advanced(1 << 20, 400);
    EXPECT_EQ(draws(), 2);
    const auto line = out.str().substr(out.str().rfind('\r') + 1);
    EXPECT_NE(line.find("Mailbox 1 of 2 ...ther-long-name-indeed.mbx"), std::string::npos) << line;
    EXPECT_NE(line.find("1.0 MiB of 4.0 MiB  400 messages"), std::string::npos) << line;
    EXPECT_NE(line.find("/s  0:06 left"), std::string::npos) << line;

    printer.mailboxFinished(800, 0);
    printer.mailboxStarted(1, "/mail/b.mbx", 2 << 20);
    printer.mailboxFinished(5, 0); // the last mailbox draws at once
    printer.end();
    const auto text = out.str();
    const auto last = text.substr(text.rfind('\r') + 1);
    EXPECT_EQ(last.find("Mailbox 2 of 2 b.mbx  4.0 MiB of 4.0 MiB  805 messages"), 0u) << last;
    EXPECT_EQ(last.back(), '\n');
    // The shorter line covers the longer one before it.
    EXPECT_GE(last.size(), line.size());
}

} // namespace
