#include "mailstore/mapi/tags.h"
#include "mailstore/mime/import.h"
#include "mailstore/msg/msg_writer.h"
#include "mailstore/msg/named_map.h"
#include "tests/mime/hard_cases.h"
#include "tests/mime/real_messages.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
namespace tags = mbx::mapi::tags;
using mbx::mapi::Message;

namespace {

const fs::path kScratch = MBX_SCRATCH_DIR;
const fs::path kHere = fs::path(MBX_SOURCE_DIR) / "tests/msg";

struct RunResult {
    int status = -1;
    std::string output;
};

RunResult run(const std::string& command) {
    RunResult r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) {
        r.output.append(buf.data(), n);
    }
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string quote(const fs::path& p) {
    std::string out = "'";
    for (const char c : p.string()) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

void writeFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

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
    std::string cmd = "/usr/bin/python3 " + quote(kHere / "check_msg.py") + " " +
                      quote(fs::path(MBX_CHECKERS_DIR) / "node_modules") + " " +
                      quote(pairs.front().second.parent_path());
    for (const auto& [eml, msg] : pairs) {
        cmd += " " + quote(eml) + " " + quote(msg);
    }
    const RunResult r = run(cmd);
    EXPECT_EQ(r.status, 0) << r.output;
    // Each pair reported as "ok" by name: guards against a checker that silently does nothing.
    for (const auto& [eml, msg] : pairs) {
        EXPECT_NE(r.output.find("ok " + msg.filename().string() + "\n"), std::string::npos)
            << msg.filename() << "\n"
            << r.output;
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
    const RunResult r =
        run("/usr/bin/python3 -c '"
            "import olefile,sys\n"
            "o=olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)\n"
            "print(\"clsid\", o.root.clsid)\n"
            "for e in o.listdir(streams=True, storages=False):\n"
            "  print(\"/\".join(e), o.openstream(e).read().hex())\n"
            "' " +
            quote(file));
    EXPECT_EQ(r.status, 0) << r.output;
    std::map<std::string, std::string> out;
    std::istringstream in(r.output);
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

std::vector<std::uint8_t> utf16(const std::string& ascii) {
    std::vector<std::uint8_t> out;
    for (const char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
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

TEST(MsgRoundTrip, TwentyMegabyteAttachment) {
    const auto c = mbx::testing::bigAttachmentCase();
    const fs::path eml = kScratch / "big/big.eml";
    const fs::path msg = kScratch / "big/big.msg";
    writeFile(eml, c.eml);
    const auto start = std::chrono::steady_clock::now();
    mbx::msg::writeMsg(mbx::mime::importRfc822(eml), msg);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("20 MB attachment: import + write %lld ms, file %llu bytes\n",
                static_cast<long long>(ms), static_cast<unsigned long long>(fs::file_size(msg)));
    // Beyond 6.875 MB a version-3 file needs DIFAT sectors; the readers check them.
    EXPECT_GT(fs::file_size(msg), 20u * 1024u * 1024u);
    expectReadersAgree({{eml, msg}});
}

// The layout details outside readers tolerate but Outlook does not.
TEST(MsgLayout, PropertyStreamsAndStorages) {
    const auto cases = mbx::testing::hardCases();
    const auto& fwd = cases.at(2); // ForwardedMessage
    ASSERT_EQ(fwd.name, "ForwardedMessage");
    Message m = importText(fwd.eml);
    m.props.set(tags::DisplayBcc, std::string()); // empty: must not be written
    const fs::path eml = kScratch / "layout/fwd.eml";
    const fs::path msg = kScratch / "layout/fwd.msg";
    writeFile(eml, fwd.eml);
    mbx::msg::writeMsg(m, msg);
    expectReadersAgree({{eml, msg}});

    const auto s = streamsOf(msg);
    EXPECT_EQ(s.at("clsid"), "00020D0B-0000-0000-C000-000000000046");
    const std::string& top = s.at("__properties_version1.0");
    // Top level: 32-byte header with next ids and counts (1 recipient, 1 attachment).
    EXPECT_EQ(u32(top, 8), 1u);
    EXPECT_EQ(u32(top, 12), 1u);
    EXPECT_EQ(u32(top, 16), 1u);
    EXPECT_EQ(u32(top, 20), 1u);
    EXPECT_EQ((top.size() - 32) % 16, 0u);
    const auto topEntries = entries(top, 32);
    EXPECT_EQ(topEntries.at(0x340D0003) & 0x00040000u, 0x00040000u);
    EXPECT_EQ(topEntries.count(0x0E02001F), 0u); // the empty DisplayBcc
    EXPECT_EQ(topEntries.at(0x0E070003), 0x11u); // read + has attachments
    // String sizes count the terminator the stream leaves out.
    EXPECT_EQ(topEntries.at(0x0037001F), s.at("__substg1.0_0037001F").size() + 2);
    EXPECT_EQ(s.at("__substg1.0_0037001F"), std::string("F\0w\0d\0:\0 \0B\0u\0d\0g\0e\0t\0", 22));
    for (const auto& [name, bytes] : s) {
        if (name.ends_with("001F")) {
            EXPECT_FALSE(bytes.empty()) << name;
        }
    }

    // Recipient and attachment storages: 8-byte headers.
    const std::string& recip = s.at("__recip_version1.0_#00000000/__properties_version1.0");
    EXPECT_EQ(recip.substr(0, 8), std::string(8, '\0'));
    EXPECT_EQ(entries(recip, 8).at(0x0C150003), 1u);
    const std::string att = "__attach_version1.0_#00000000/";
    const auto attEntries = entries(s.at(att + "__properties_version1.0"), 8);
    EXPECT_EQ(attEntries.at(0x37050003), 5u);
    EXPECT_EQ(attEntries.at(0x3701000D), 0xFFFFFFFFu);
    EXPECT_EQ(attEntries.count(0x37010102), 0u);

    // The attached mail: 24-byte header (no trailing reserved bytes), its own attachment.
    const std::string inner = att + "__substg1.0_3701000D/";
    const std::string& innerProps = s.at(inner + "__properties_version1.0");
    EXPECT_EQ((innerProps.size() - 24) % 16, 0u);
    EXPECT_EQ(u32(innerProps, 16), 1u); // one recipient
    EXPECT_EQ(u32(innerProps, 20), 1u); // one attachment
    EXPECT_NE(u32(innerProps, 24), 0u); // first entry right after the 24 bytes
    EXPECT_TRUE(s.contains(inner + "__attach_version1.0_#00000000/__substg1.0_37010102"));
    EXPECT_FALSE(s.contains(inner + "__nameid_version1.0/__substg1.0_00020102"));
    // The named-property storage is always there, empty when nothing is named.
    EXPECT_EQ(s.at("__nameid_version1.0/__substg1.0_00020102"), "");
    EXPECT_EQ(s.at("__nameid_version1.0/__substg1.0_00030102"), "");
    EXPECT_EQ(s.at("__nameid_version1.0/__substg1.0_00040102"), "");
}

TEST(MsgLayout, NamedPropertiesAndValueTypes) {
    using mbx::mapi::NamedKey;
    using mbx::mapi::PropType;
    const auto cases = mbx::testing::hardCases();
    Message m = importText(cases.at(0).eml);
    const NamedKey lid{mbx::mapi::guids::Common, std::uint32_t{0x8580}};
    const NamedKey header{mbx::mapi::guids::InternetHeaders, std::string("Content-Type")};
    const NamedKey keyword{mbx::mapi::guids::PublicStrings, std::string("Keywords")};
    m.props.setNamed(lid, PropType::Int32, std::int32_t{42});
    m.props.setNamed(header, PropType::Unicode, std::string("multipart/mixed"));
    m.props.setNamed(keyword, PropType::MvUnicode, std::vector<std::string>{"a", "bc"});
    m.attachments.at(1).props.setNamed(lid, PropType::Int32, std::int32_t{7}); // same key again
    m.props.set(mbx::mapi::makeTag(0x6700, PropType::Int16), std::int16_t{-2});
    m.props.set(mbx::mapi::makeTag(0x6701, PropType::Double), 2.5);
    m.props.set(mbx::mapi::makeTag(0x6702, PropType::Int64), std::int64_t{-3});
    m.props.set(mbx::mapi::makeTag(0x6703, PropType::String8), std::string("eight"));
    m.props.set(mbx::mapi::makeTag(0x6704, PropType::MvBinary),
                std::vector<mbx::mapi::Bytes>{{1, 2, 3}, {}});
    m.props.set(mbx::mapi::makeTag(0x6705, PropType::Boolean), false);

    const fs::path eml = kScratch / "named/named.eml";
    const fs::path msg = kScratch / "named/named.msg";
    writeFile(eml, cases.at(0).eml);
    mbx::msg::writeMsg(m, msg);
    expectReadersAgree({{eml, msg}});
    const auto s = streamsOf(msg);

    const std::string ns = "__nameid_version1.0/";
    // GUID stream: PSETID_Common then PS_INTERNET_HEADERS (PS_PUBLIC_STRINGS is implied).
    const auto& g = s.at(ns + "__substg1.0_00020102");
    ASSERT_EQ(g.size(), 32u);
    EXPECT_EQ(g.substr(0, 16),
              std::string(mbx::mapi::guids::Common.begin(), mbx::mapi::guids::Common.end()));
    // Ids follow the model's key order (set GUID bytes, then name): LID 0x8580 in PSETID_Common
    // (GUID index 3, numeric), "Keywords" in PS_PUBLIC_STRINGS (index 2, string), then
    // "content-type" in PS_INTERNET_HEADERS (index 4, string).
    const auto& e = s.at(ns + "__substg1.0_00030102");
    ASSERT_EQ(e.size(), 24u);
    EXPECT_EQ(u32(e, 0), 0x8580u);
    EXPECT_EQ(u32(e, 4), (0u << 16) | (3u << 1) | 0u);
    EXPECT_EQ(u32(e, 8), 0u); // offset of "Keywords" in the string stream
    EXPECT_EQ(u32(e, 12), (1u << 16) | (2u << 1) | 1u);
    EXPECT_EQ(u32(e, 16), 20u); // 4 + 16 bytes, already 4-byte aligned
    EXPECT_EQ(u32(e, 20), (2u << 16) | (4u << 1) | 1u);
    // String stream: length + UTF-16 name, 4-byte aligned; Internet header names lower-cased.
    const auto& str = s.at(ns + "__substg1.0_00040102");
    ASSERT_EQ(str.size(), 48u);
    EXPECT_EQ(u32(str, 0), 16u);
    EXPECT_EQ(u32(str, 20), 24u);
    const auto lowered = utf16("content-type");
    EXPECT_EQ(str.substr(24, 24), std::string(lowered.begin(), lowered.end()));
    // The hash of "content-type" (0x0450B859, GUID index 4 here) picks its bucket.
    const std::uint32_t bucket = (0x0450B859u ^ ((4u << 1) | 1u)) % 31u;
    char name[64];
    std::snprintf(name, sizeof name, "%s__substg1.0_%04X0102", ns.c_str(), 0x1000u + bucket);
    ASSERT_TRUE(s.contains(name)) << name;
    EXPECT_EQ(u32(s.at(name), 0), 0x0450B859u);

    // Named values land under ids 0x8000 + index; the second use shares the id.
    const auto top = entries(s.at("__properties_version1.0"), 32);
    EXPECT_EQ(top.at(0x80000003), 42u);
    EXPECT_EQ(top.at(0x8002001F), s.at("__substg1.0_8002001F").size() + 2);
    EXPECT_EQ(top.at(0x8001101F), 8u); // two lengths
    EXPECT_EQ(s.at("__substg1.0_8001101F-00000001"), std::string("b\0c\0\0\0", 6));
    EXPECT_EQ(
        entries(s.at("__attach_version1.0_#00000001/__properties_version1.0"), 8).at(0x80000003),
        7u);
    // Other value types: inline values and the String8 value written as Unicode.
    EXPECT_EQ(top.at(0x67000002), 0xFFFEu);
    EXPECT_EQ(top.at(0x67020014), 0xFFFFFFFDu);
    EXPECT_EQ(top.at(0x6705000B), 0u);
    EXPECT_EQ(top.count(0x6703001E), 0u);
    EXPECT_EQ(s.at("__substg1.0_6703001F"), std::string("e\0i\0g\0h\0t\0", 10));
    EXPECT_EQ(s.at("__substg1.0_67041102"), std::string("\3\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(s.at("__substg1.0_67041102-00000000"), std::string("\1\2\3", 3));
}

// Outlook's own files as the oracle for the named-property hash: every name in their entry
// streams must sit in the bucket our CRC (or its LID) picks, under that key.
TEST(MsgLayout, NameHashMatchesOutlookFiles) {
    EXPECT_EQ(mbx::msg::nameidCrc(utf16("content-type")), 0x0450B859u);
    EXPECT_EQ(mbx::msg::nameidCrc(utf16("content-transfer-encoding")), 0xAD5C996Bu);
    std::size_t checked = 0;
    for (const auto& f : fs::directory_iterator(fs::path(MBX_DATA_DIR) / "msg")) {
        const auto s = streamsOf(f.path());
        const std::string ns = "__nameid_version1.0/";
        const auto& e = s.at(ns + "__substg1.0_00030102");
        const auto& strings = s.at(ns + "__substg1.0_00040102");
        for (std::size_t off = 0; off + 8 <= e.size(); off += 8) {
            const std::uint32_t indexAndKind = u32(e, off + 4);
            std::uint32_t crc = u32(e, off); // a numeric name hashes as its LID
            if ((indexAndKind & 1) != 0) {
                const std::uint32_t at = u32(e, off);
                const std::uint32_t len = u32(strings, at);
                const std::string nameBytes = strings.substr(at + 4, len);
                crc = mbx::msg::nameidCrc(std::span(
                    reinterpret_cast<const std::uint8_t*>(nameBytes.data()), nameBytes.size()));
            }
            char bucket[64];
            std::snprintf(bucket, sizeof bucket, "%s__substg1.0_%04X0102", ns.c_str(),
                          0x1000u + (crc ^ (indexAndKind & 0xFFFF)) % 31u);
            ASSERT_TRUE(s.contains(bucket)) << f.path().filename() << " " << bucket;
            const auto& b = s.at(bucket);
            bool found = false;
            for (std::size_t k = 0; k + 8 <= b.size(); k += 8) {
                found = found || (u32(b, k) == crc && u32(b, k + 4) == indexAndKind);
            }
            EXPECT_TRUE(found) << f.path().filename() << " " << bucket;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100u);
}

// The layout facts the writer relies on, confirmed on files Outlook saved: header sizes by
// storage kind, the attached-mail entry, and no named-property storage inside an attached mail.
TEST(MsgLayout, OutlookFilesUseTheSameLayout) {
    const fs::path ref = fs::path(MBX_DATA_DIR) / "msg";
    std::size_t embedded = 0;
    for (const char* file : {"msgInMsg.msg", "Attach_sample_eml_received.msg"}) {
        const auto s = streamsOf(ref / file);
        EXPECT_EQ(s.at("clsid"), "00020D0B-0000-0000-C000-000000000046") << file;
        const std::string& top = s.at("__properties_version1.0");
        EXPECT_EQ((top.size() - 32) % 16, 0u) << file;
        EXPECT_EQ(entries(top, 32).at(0x340D0003) & 0x00040000u, 0x00040000u) << file;
        for (const auto& [name, bytes] : s) {
            if (!name.ends_with("__substg1.0_3701000D/__properties_version1.0")) {
                continue;
            }
            ++embedded;
            EXPECT_EQ((bytes.size() - 24) % 16, 0u) << file;
            EXPECT_NE(u32(bytes, 24), 0u) << file;
            const std::string owner = name.substr(0, name.find("__substg1.0_3701000D/"));
            const auto att = entries(s.at(owner + "__properties_version1.0"), 8);
            EXPECT_EQ(att.at(0x37050003), 5u) << file;
            EXPECT_EQ(att.at(0x3701000D), 0xFFFFFFFFu) << file;
            EXPECT_FALSE(s.contains(owner + "__substg1.0_3701000D/__nameid_version1.0/"
                                            "__substg1.0_00020102"))
                << file;
        }
    }
    EXPECT_GE(embedded, 2u);
}

TEST(MsgWriter, UnwritableTargetThrowsAndLeavesNothing) {
    const auto cases = mbx::testing::hardCases();
    const Message m = importText(cases.at(0).eml);
    const fs::path missingDir = kScratch / "no-such-dir" / "x.msg";
    EXPECT_THROW(mbx::msg::writeMsg(m, missingDir), mbx::msg::MsgError);
    EXPECT_FALSE(fs::exists(missingDir));
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
    const RunResult r = run("node " + quote(kHere / "msgreader_dump.js") + " " +
                            quote(fs::path(MBX_CHECKERS_DIR) / "node_modules") + " " + quote(msg));
    ASSERT_EQ(r.status, 0) << r.output;
    std::size_t rows = 0;
    for (auto at = r.output.find("\"type\":\"to\""); at != std::string::npos;
         at = r.output.find("\"type\":\"to\"", at + 1)) {
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
