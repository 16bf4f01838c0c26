// .msg files written from imported mail, read back by three readers we did not write
// (check_msg.py: olefile, msgreader, msgconvert), and the layout rules Outlook's own files follow.
#include "mailstore/mapi/tags.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/msg/named_map.h"
#include "tests/mime/hard_cases.h"
#include "tests/mime/real_messages.h"
#include "tests/support/files.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sstream>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
namespace tags = mbx::mapi::tags;
using mbx::mapi::Message;
using mbx::testing::quoted;
using mbx::testing::runCommand;
using mbx::testing::writeFile;

namespace {

const fs::path kScratch = MBX_SCRATCH_DIR;
const fs::path kHere = fs::path(MBX_SOURCE_DIR) / "tests/msg";
const fs::path kOutlookFiles = fs::path(MBX_DATA_DIR) / "msg";

Message importText(const std::string& text) {
    return mbx::mime::importRfc822(std::as_bytes(std::span(text.data(), text.size())));
}

// Runs the three outside readers over (eml, msg) pairs; they must all agree with the .eml.
// An eml path starting with "!" marks damaged MIME that Python's parser reads differently from
// lenient readers; check_msg.py then compares the content between the three readers only.
void expectReadersAgree(const std::vector<std::pair<fs::path, fs::path>>& pairs) {
    ASSERT_FALSE(pairs.empty());
    // Work files go beside the .msg files: each test has its own folder, so tests can run in
    // parallel.
    std::string cmd = "/usr/bin/python3 " + quoted(kHere / "check_msg.py") + " " +
                      quoted(fs::path(MBX_CHECKERS_DIR) / "node_modules") + " " +
                      quoted(pairs.front().second.parent_path());
    for (const auto& [eml, msg] : pairs) {
        cmd.append(" ").append(quoted(eml)).append(" ").append(quoted(msg));
    }
    const auto [status, output] = runCommand(cmd);
    EXPECT_EQ(status, 0) << output;
    // Each pair reported as "ok" by name: guards against a checker that silently does nothing.
    for (const auto& [eml, msg] : pairs) {
        EXPECT_NE(output.find("ok " + msg.filename().string() + "\n"), std::string::npos)
            << msg.filename() << "\n"
            << output;
    }
}

// Imports each message, writes it as .msg and returns the (eml, msg) pairs to check.
std::vector<std::pair<fs::path, fs::path>>
convertAll(const std::string& group, const std::vector<mbx::testing::RealMessage>& messages) {
    // A part header continued without indentation, and a To header of 2,700 encoded words that
    // parsers split in different places.
    static const std::set<std::string> kDamaged = {"enmime__bad-header-wrap.raw",
                                                   "mimekit__stack-overflow.txt"};
    std::vector<std::pair<fs::path, fs::path>> pairs;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const fs::path eml = kScratch / group / (std::to_string(i) + ".eml");
        const fs::path msg = kScratch / group / (std::to_string(i) + "-" + group + ".msg");
        writeFile(eml, messages[i].bytes);
        mbx::msg::writeMsg(mbx::mime::importRfc822(eml), msg);
        pairs.emplace_back(kDamaged.contains(messages[i].name) ? fs::path("!" + eml.string()) : eml,
                           msg);
    }
    return pairs;
}

// Every stream of a compound file as olefile (strict) lists it: path -> bytes.
std::map<std::string, std::string> streamsOf(const fs::path& file) {
    const auto [status, output] =
        runCommand("/usr/bin/python3 -c '"
                   "import olefile,sys\n"
                   "o=olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)\n"
                   "print(\"clsid\", o.root.clsid)\n"
                   "for e in o.listdir(streams=True, storages=False):\n"
                   "  print(\"/\".join(e), o.openstream(e).read().hex())\n"
                   "' " +
                   quoted(file));
    EXPECT_EQ(status, 0) << output;
    std::map<std::string, std::string> out;
    std::istringstream in(output);
    std::string name;
    std::string hex;
    while (in >> name) {
        std::getline(in, hex);
        hex.erase(0, hex.find_first_not_of(' '));
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        out[name] = name == "clsid" ? hex : bytes;
    }
    return out;
}

std::uint32_t u32(const std::string& s, std::size_t off) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) {
        v = (v << 8) | static_cast<unsigned char>(s.at(off + static_cast<std::size_t>(k)));
    }
    return v;
}

// Property entries of a property stream with the given header size: tag -> (size or value).
std::map<std::uint32_t, std::uint32_t> entries(const std::string& stream, std::size_t header) {
    std::map<std::uint32_t, std::uint32_t> out;
    for (std::size_t off = header; off + 16 <= stream.size(); off += 16) {
        out[u32(stream, off)] = u32(stream, off + 8);
    }
    return out;
}

// The layout rules Outlook's own files follow and outside readers do not enforce: header sizes
// by storage kind, the Unicode store bit, the attached-mail entry, and no named-property storage
// inside an attached mail. Returns the number of attached mails seen.
std::size_t expectOutlookLayout(const std::map<std::string, std::string>& s,
                                const std::string& where) {
    EXPECT_EQ(s.at("clsid"), "00020D0B-0000-0000-C000-000000000046") << where;
    const std::string& top = s.at("__properties_version1.0");
    EXPECT_EQ((top.size() - 32) % 16, 0u) << where;
    EXPECT_EQ(entries(top, 32).at(0x340D0003) & 0x00040000u, 0x00040000u) << where;
    EXPECT_TRUE(s.contains("__nameid_version1.0/__substg1.0_00020102")) << where;
    std::size_t embedded = 0;
    for (const auto& [name, bytes] : s) {
        if (name.ends_with("__recip_version1.0_#00000000/__properties_version1.0")) {
            EXPECT_EQ(bytes.substr(0, 8), std::string(8, '\0')) << where << " " << name;
        }
        if (!name.ends_with("__substg1.0_3701000D/__properties_version1.0")) {
            continue;
        }
        ++embedded;
        EXPECT_EQ((bytes.size() - 24) % 16, 0u) << where;
        EXPECT_NE(u32(bytes, 24), 0u) << where; // the first entry right after the 24 bytes
        const std::string owner = name.substr(0, name.find("__substg1.0_3701000D/"));
        const auto att = entries(s.at(owner + "__properties_version1.0"), 8);
        EXPECT_EQ(att.at(0x37050003), 5u) << where;
        EXPECT_EQ(att.at(0x3701000D), 0xFFFFFFFFu) << where;
        EXPECT_FALSE(s.contains(owner + "__substg1.0_3701000D/__nameid_version1.0/"
                                        "__substg1.0_00020102"))
            << where;
    }
    return embedded;
}

// The named-property map of a file: every entry must sit in the bucket the hash of its name (or
// its LID) picks, which is where Outlook looks a name up. Returns "GUID index:name or LID" -> id.
std::map<std::string, std::uint32_t> namedIds(const std::map<std::string, std::string>& s,
                                              const std::string& where) {
    const std::string ns = "__nameid_version1.0/__substg1.0_";
    const auto& e = s.at(ns + "00030102");
    const auto& strings = s.at(ns + "00040102");
    std::map<std::string, std::uint32_t> ids;
    for (std::size_t off = 0; off + 8 <= e.size(); off += 8) {
        const std::uint32_t indexAndKind = u32(e, off + 4);
        std::uint32_t crc = u32(e, off);
        std::string key = std::to_string((indexAndKind & 0xFFFF) >> 1) + ":";
        if ((indexAndKind & 1) != 0) {
            const std::string name = strings.substr(crc + 4, u32(strings, crc));
            crc = mbx::msg::nameidCrc(
                std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
            for (std::size_t k = 0; k < name.size(); k += 2) {
                key += name[k];
            }
        } else {
            key += std::to_string(crc);
        }
        char bucket[16];
        std::snprintf(bucket, sizeof bucket, "%04X0102",
                      0x1000u + (crc ^ (indexAndKind & 0xFFFF)) % 31u);
        const std::string b = s.contains(ns + bucket) ? s.at(ns + bucket) : "";
        bool found = false;
        for (std::size_t k = 0; k + 8 <= b.size(); k += 8) {
            found = found || (u32(b, k) == crc && u32(b, k + 4) == indexAndKind);
        }
        EXPECT_TRUE(found) << where << " " << key << " not in bucket " << bucket;
        ids[key] = 0x8000 + (indexAndKind >> 16);
    }
    return ids;
}

} // namespace

TEST(MsgRoundTrip, HardCases) {
    std::vector<mbx::testing::RealMessage> messages;
    for (const auto& c : mbx::testing::hardCases()) {
        messages.push_back({c.name, c.eml});
    }
    expectReadersAgree(convertAll("hard", messages));
}

TEST(MsgRoundTrip, RealEmlFiles) {
    expectReadersAgree(convertAll("eml", mbx::testing::realEmlFiles(fs::path(MBX_DATA_DIR))));
}

TEST(MsgRoundTrip, RealMailboxMessages) {
    expectReadersAgree(
        convertAll("mbox", mbx::testing::realMailboxMessages(fs::path(MBX_DATA_DIR))));
}

TEST(MsgRoundTrip, RealEudoraMailboxMessages) {
    const auto messages = mbx::testing::realEudoraMessages(fs::path(MBX_DATA_DIR));
    ASSERT_GE(messages.size(), 10u);
    expectReadersAgree(convertAll("eudora", messages));
}

// Attachments either side of the mini-stream cutoff (4,096 bytes) and one of 20 MB, base64 in the
// mail (about 27 MB of text): beyond 6.875 MB a version-3 file needs DIFAT sectors. The readers
// check every attachment's bytes.
TEST(MsgRoundTrip, AttachmentsAroundTheSectorLimits) {
    const fs::path dir = kScratch / "big";
    const fs::path eml = dir / "big.eml";
    const fs::path msg = dir / "big.msg";
    std::string mail = "From: big@example.com\r\nTo: you@example.com\r\nSubject: Big\r\n"
                       "Date: Mon, 07 Dec 2026 02:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed; boundary=\"big\"\r\n\r\n--big\r\n"
                       "Content-Type: text/plain\r\n\r\nLarge file attached.\r\n";
    std::mt19937 rng(20);
    for (const std::size_t size :
         {std::size_t{4095}, std::size_t{4096}, std::size_t{4097}, std::size_t{20} << 20}) {
        std::string data(size, '\0');
        for (auto& b : data) {
            b = static_cast<char>(rng());
        }
        const fs::path bin = dir / (std::to_string(size) + ".bin");
        writeFile(bin, data);
        // CRLF throughout: a base64 part with bare LF line ends in a CRLF mail is a case of its
        // own.
        const auto [status, encoded] =
            runCommand("base64 -w 76 " + quoted(bin) + " | sed 's/$/\\r/'");
        ASSERT_EQ(status, 0);
        mail += "--big\r\nContent-Type: application/octet-stream; name=\"" +
                bin.filename().string() + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                encoded;
    }
    writeFile(eml, mail + "--big--\r\n");
    mbx::msg::writeMsg(mbx::mime::importRfc822(eml), msg);
    EXPECT_GT(fs::file_size(msg), 20u * 1024u * 1024u);
    expectReadersAgree({{eml, msg}});
}

TEST(MsgLayout, OutlookFilesAndOursFollowTheSameRules) {
    // Outlook's files first, as the oracle for the rules and for the name hash.
    std::size_t embedded = 0;
    std::size_t names = 0;
    for (const auto& f : fs::directory_iterator(kOutlookFiles)) {
        const auto s = streamsOf(f.path());
        embedded += expectOutlookLayout(s, f.path().filename().string());
        names += namedIds(s, f.path().filename().string()).size();
    }
    EXPECT_GE(embedded, 2u);
    EXPECT_GT(names, 100u);

    // A forwarded mail with an attachment of its own.
    const auto cases = mbx::testing::hardCases();
    const auto& fwd = cases.at(2);
    ASSERT_EQ(fwd.name, "ForwardedMessage");
    Message m = importText(fwd.eml);
    m.props.set(tags::DisplayBcc, std::string()); // empty: must not be written
    const fs::path eml = kScratch / "layout/fwd.eml";
    const fs::path msg = kScratch / "layout/fwd.msg";
    writeFile(eml, fwd.eml);
    mbx::msg::writeMsg(m, msg);
    expectReadersAgree({{eml, msg}});
    const auto s = streamsOf(msg);
    EXPECT_EQ(expectOutlookLayout(s, "ours"), 1u);
    EXPECT_EQ(entries(s.at("__properties_version1.0"), 32).at(0x0E070003), 0x11u); // read, attached
    // The attached mail keeps its own attachment (the readers compare attached mails by subject).
    EXPECT_TRUE(s.contains("__attach_version1.0_#00000000/__substg1.0_3701000D/"
                           "__attach_version1.0_#00000000/__substg1.0_37010102"));

    // Named properties of every kind and values of the less common types.
    using mbx::mapi::NamedKey;
    using mbx::mapi::PropType;
    const NamedKey lid{mbx::mapi::guids::Common, std::uint32_t{0x8580}};
    m.props.setNamed(lid, PropType::Int32, std::int32_t{42});
    m.props.setNamed({mbx::mapi::guids::InternetHeaders, std::string("Content-Type")},
                     PropType::Unicode, std::string("multipart/mixed"));
    m.props.setNamed({mbx::mapi::guids::PublicStrings, std::string("Keywords")},
                     PropType::MvUnicode, std::vector<std::string>{"a", "bc"});
    m.attachments.at(0).props.setNamed(lid, PropType::Int32, std::int32_t{7}); // same key again
    m.props.set(mbx::mapi::makeTag(0x6700, PropType::Int16), std::int16_t{-2});
    m.props.set(mbx::mapi::makeTag(0x6702, PropType::Int64), std::int64_t{-3});
    m.props.set(mbx::mapi::makeTag(0x6703, PropType::String8), std::string("eight"));
    m.props.set(mbx::mapi::makeTag(0x6704, PropType::MvBinary),
                std::vector<mbx::mapi::Bytes>{{1, 2, 3}, {}});
    const fs::path named = kScratch / "layout/named.msg";
    mbx::msg::writeMsg(m, named);
    expectReadersAgree({{eml, named}});
    const auto n = streamsOf(named);
    const auto& g = n.at("__nameid_version1.0/__substg1.0_00020102");
    EXPECT_EQ(g.substr(0, 16),
              std::string(mbx::mapi::guids::Common.begin(), mbx::mapi::guids::Common.end()));
    // Index 2 is PS_PUBLIC_STRINGS, 3 the first GUID of the stream; header names are lower case.
    auto ids = namedIds(n, "ours");
    ASSERT_EQ(ids.size(), 3u);
    const auto top = entries(n.at("__properties_version1.0"), 32);
    EXPECT_EQ(top.at(ids["3:34176"] << 16 | 0x0003), 42u);
    EXPECT_EQ(entries(n.at("__attach_version1.0_#00000000/__properties_version1.0"), 8)
                  .at(ids["3:34176"] << 16 | 0x0003),
              7u);
    char mv[40];
    std::snprintf(mv, sizeof mv, "__substg1.0_%04X101F-00000001", ids["2:Keywords"]);
    EXPECT_EQ(n.at(mv), std::string("b\0c\0\0\0", 6));
    ASSERT_TRUE(ids.contains("4:content-type"));
    EXPECT_EQ(top.at(0x67000002), 0xFFFEu);
    EXPECT_EQ(top.at(0x67020014), 0xFFFFFFFDu);
    EXPECT_EQ(top.count(0x6703001E), 0u); // 8-bit text is written as Unicode
    EXPECT_EQ(n.at("__substg1.0_6703001F"), std::string("e\0i\0g\0h\0t\0", 10));
    EXPECT_EQ(n.at("__substg1.0_67041102-00000000"), std::string("\1\2\3", 3));
}

// A failed system call reaches the caller with its errno (a full device must be recognisable),
// and no file is left: not when it cannot be created, not when a write fails half-way (here the
// file size limit stops it, as a full device would).
TEST(MsgWriter, UnwritableTargetThrowsWithItsErrnoAndLeavesNothing) {
    const Message m = importText("From: a@example.com\r\nSubject: Long\r\n\r\n" +
                                 std::string(300000, 'x') + "\r\n");
    const fs::path missingDir = kScratch / "no-such-dir" / "x.msg";
    try {
        mbx::msg::writeMsg(m, missingDir);
        ADD_FAILURE() << "no error";
    } catch (const mbx::msg::MsgError& e) {
        EXPECT_EQ(e.code(), std::error_code(ENOENT, std::generic_category())) << e.what();
    }
    EXPECT_FALSE(fs::exists(missingDir));

#ifndef _WIN32 // the file size limit is POSIX's
    const fs::path cut = kScratch / "cut" / "x.msg";
    fs::create_directories(cut.parent_path());
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64 << 10;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::error_code code;
    try {
        mbx::msg::writeMsg(m, cut);
    } catch (const mbx::msg::MsgError& e) {
        code = e.code();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(code, std::error_code(EFBIG, std::generic_category()));
    EXPECT_FALSE(fs::exists(cut));
#endif
}

// More attachments than a .msg holds, at the top and in an attached mail: the first 2048 of each
// are written and the rest is named in the notes.
TEST(MsgWriter, AttachmentsBeyondTheFormatLimitAreLeftOutAndNoted) {
    std::string parts;
    for (int i = 0; i < 3000; ++i) {
        parts += "--p\r\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i) +
                 "\"\r\n\r\n\r\n";
    }
    const std::string inner =
        "Subject: inner\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n" + parts + "--p--";
    const Message m =
        importText("Subject: outer\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
                   "Content-Type: message/rfc822\r\n\r\n" +
                   inner + "\r\n--o\r\nContent-Type: text/plain\r\n\r\nlast\r\n--o--\r\n");
    ASSERT_EQ(m.attachments.size(), 2u);
    ASSERT_TRUE(m.attachments[0].embedded);
    ASSERT_EQ(m.attachments[0].embedded->attachments.size(), 3000u);
    const fs::path msg = kScratch / "many-attachments.msg";
    const auto result = mbx::msg::writeMsg(m, msg);
    ASSERT_EQ(result.notes.size(), 1u);
    EXPECT_EQ(result.notes[0], "attached mail \"inner\": 952 of 3000 attachments left out (a .msg "
                               "holds 2048), from number 2049 \"f2048\" on");
    const auto s = streamsOf(msg);
    const std::string innerPrefix = "__attach_version1.0_#00000000/__substg1.0_3701000D/";
    EXPECT_EQ(u32(s.at(innerPrefix + "__properties_version1.0"), 20), 2048u);
    EXPECT_TRUE(s.contains(innerPrefix + "__attach_version1.0_#000007FF/__properties_version1.0"));
    EXPECT_FALSE(s.contains(innerPrefix + "__attach_version1.0_#00000800/__properties_version1.0"));
    // The top level is whole.
    EXPECT_EQ(u32(s.at("__properties_version1.0"), 20), 2u);
    EXPECT_TRUE(s.contains("__attach_version1.0_#00000001/__properties_version1.0"));
}

// More recipients than a .msg can hold: the first 2048 rows are written, the file stays valid.
// With over 2,000 children in one storage the sibling trees must be balanced: olefile (run with
// Python's default recursion limit by streamsOf) fails on libgsf's chained siblings from about
// 1,000 children on.
TEST(MsgWriter, RecipientRowsStopAtTheFormatLimit) {
    std::string to;
    for (int i = 0; i < 2100; ++i) {
        to += (i == 0 ? "" : ",\r\n ") + std::string("r") + std::to_string(i) + "@example.com";
    }
    const std::string eml =
        "From: many@example.com\r\nTo: " + to +
        "\r\nSubject: Many\r\nDate: Mon, 07 Dec 2026 04:00:00 +0000\r\n\r\nHi\r\n";
    const Message m = importText(eml);
    ASSERT_EQ(m.recipients.size(), 2100u);
    const fs::path msg = kScratch / "many/many.msg";
    fs::create_directories(msg.parent_path());
    const auto result = mbx::msg::writeMsg(m, msg);
    ASSERT_EQ(result.notes.size(), 1u);
    EXPECT_NE(result.notes[0].find("52 of 2100 recipients"), std::string::npos) << result.notes[0];
    const auto s = streamsOf(msg);
    const std::string& top = s.at("__properties_version1.0");
    EXPECT_EQ(u32(top, 8), 2048u);
    EXPECT_EQ(u32(top, 16), 2048u);
    EXPECT_TRUE(s.contains("__recip_version1.0_#000007FF/__properties_version1.0"));
    EXPECT_FALSE(s.contains("__recip_version1.0_#00000800/__properties_version1.0"));
    // msgreader sees the 2048 rows too. (msgconvert is left out here on purpose: its reader
    // needs about a minute for 2,000 recipient storages; RealMailboxMessages and the other
    // round trips run it on every other file.)
    const auto [status, output] =
        runCommand("node " + quoted(kHere / "msgreader_dump.js") + " " +
                   quoted(fs::path(MBX_CHECKERS_DIR) / "node_modules") + " " + quoted(msg));
    ASSERT_EQ(status, 0) << output;
    std::size_t rows = 0;
    for (auto at = output.find("\"type\":\"to\""); at != std::string::npos;
         at = output.find("\"type\":\"to\"", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, 2048u);
    // Every address is still in the display list.
    EXPECT_NE(s.at("__substg1.0_0E04001F")
                  .find(std::string("r\0"
                                    "2\0"
                                    "0\0"
                                    "9\0"
                                    "9\0",
                                    10)),
              std::string::npos);
}
