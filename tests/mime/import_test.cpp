#include "mailstore/mapi/fingerprint.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/import.h"
#include "tests/fuzz/model_rules.h"
#include "tests/mime/hard_cases.h"
#include "tests/mime/real_messages.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace fs = std::filesystem;
namespace tags = mbx::mapi::tags;
using mbx::mapi::Bytes;
using mbx::mapi::FileTime;
using mbx::mapi::Message;
using mbx::mime::importRfc822;

namespace {

Message importText(const std::string& text) {
    return importRfc822(std::as_bytes(std::span(text.data(), text.size())));
}

// `bytes` in base64, 76 characters a line, each line ended by CRLF.
std::string base64Lines(const std::string& bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = v << 8 | (i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= bytes.size() - i ? kDigits[v >> (18 - 6 * k) & 63] : '=';
        if (out.size() % 78 == 76 || i + 3 >= bytes.size())
            out += "\r\n";
    }
    return out;
}

std::string str(const mbx::mapi::PropertyBag& bag, mbx::mapi::PropTag tag) {
    return bag.string(tag).value_or("<absent>");
}

std::size_t dataSize(const mbx::mapi::Attachment& a) {
    const auto* v = a.props.find(tags::AttachDataBinary);
    return v ? std::get<Bytes>(*v).size() : 0;
}

bool boolean(const mbx::mapi::PropertyBag& bag, mbx::mapi::PropTag tag) {
    const auto* v = bag.find(tag);
    return v && std::get<bool>(*v);
}

std::int64_t unixTime(const mbx::mapi::PropertyBag& bag, mbx::mapi::PropTag tag) {
    const auto* v = bag.find(tag);
    return v ? std::get<FileTime>(*v).toUnixSeconds() : -1;
}

// The model's rules, and no separator line left in the headers or the body.
void expectSane(const Message& m, const std::string& where) {
    mbx::testing::checkModel(
        m, [&](bool ok, const std::string& what) { EXPECT_TRUE(ok) << where << ": " << what; });
    for (const auto tag : {tags::TransportMessageHeaders, tags::Body}) {
        EXPECT_EQ(m.props.string(tag).value_or("").find("From ???@???"), std::string::npos)
            << where;
    }
}

} // namespace

class HardCaseImport : public ::testing::TestWithParam<mbx::testing::HardCase> {};

TEST_P(HardCaseImport, MapsAsReceivedMail) {
    const auto& c = GetParam();
    const Message m = importText(c.eml);
    expectSane(m, c.name);
    if (c.subject.empty()) {
        EXPECT_FALSE(m.props.has(tags::Subject));
    } else {
        EXPECT_EQ(str(m.props, tags::Subject), c.subject);
    }
    if (c.bodyContains.empty()) {
        EXPECT_FALSE(m.props.has(tags::Body));
    } else {
        EXPECT_NE(str(m.props, tags::Body).find(c.bodyContains), std::string::npos)
            << str(m.props, tags::Body);
    }
    EXPECT_EQ(m.props.has(tags::Html), c.html);
    if (c.codePage != 0) {
        EXPECT_EQ(m.props.int32(tags::InternetCodepage).value_or(0), c.codePage);
    }
    ASSERT_EQ(m.attachments.size(), c.attachments.size());
    for (std::size_t i = 0; i < c.attachments.size(); ++i) {
        const auto& want = c.attachments[i];
        const auto& got = m.attachments[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(got.embedded != nullptr, want.embedded);
        EXPECT_EQ(str(got.props, want.embedded ? tags::DisplayName : tags::AttachLongFilename),
                  want.name);
        EXPECT_EQ(str(got.props, tags::AttachMimeTag), want.mime);
        EXPECT_EQ(boolean(got.props, tags::AttachmentHidden), want.hidden);
        if (!want.embedded) {
            EXPECT_EQ(dataSize(got), want.size);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Mime, HardCaseImport, ::testing::ValuesIn(mbx::testing::hardCases()),
                         [](const auto& info) { return info.param.name; });

// One session's parser, taken by one message after another, leaves nothing of a message to the
// next: each hard case, twice over, imports as it does alone.
TEST(MimeImport, ASessionImportsEachMessageAsAlone) {
    mbx::mime::ImportSession session;
    const auto cases = mbx::testing::hardCases();
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            std::vector<std::string> notes;
            const Message alone = importText(c.eml);
            const Message inSession = importRfc822(
                std::as_bytes(std::span(c.eml.data(), c.eml.size())), {}, notes, session);
            EXPECT_EQ(mbx::mapi::differences(mbx::mapi::fingerprint(alone),
                                             mbx::mapi::fingerprint(inSession)),
                      "");
            EXPECT_EQ(inSession.props.properties().size(), alone.props.properties().size());
        }
    }
}

// What the outside readers of the MSG round trip do not compare: names, display lists, message
// id, delivery time and the attachment details Outlook shows.
TEST(MimeImport, AddressesDatesAndSubjectParts) {
    const auto cases = mbx::testing::hardCases();
    const Message m = importText(cases[0].eml); // AlternativeWithRelatedImages
    EXPECT_EQ(str(m.props, tags::SentRepresentingName), "Anna Example");
    EXPECT_EQ(str(m.props, tags::SenderAddressType), "SMTP");
    EXPECT_EQ(str(m.props, tags::DisplayTo), "Bob; carol@example.net");
    EXPECT_EQ(str(m.props, tags::DisplayCc), "Dave");
    EXPECT_EQ(str(m.props, tags::InternetMessageId), "<alt-rel@example.com>");
    // 09:30 +0100 is 08:30 UTC; no Received header, so delivery = submit.
    EXPECT_EQ(unixTime(m.props, tags::ClientSubmitTime), 1796113800);
    EXPECT_EQ(unixTime(m.props, tags::MessageDeliveryTime), 1796113800);
    ASSERT_EQ(m.recipients.size(), 3u);
    EXPECT_EQ(str(m.recipients[1].props, tags::DisplayName), "carol@example.net");
    const auto& image = m.attachments.at(0);
    EXPECT_EQ(str(image.props, tags::AttachContentId), "img1@x");
    EXPECT_EQ(image.props.int32(tags::AttachFlags).value_or(0), 4);
    EXPECT_EQ(str(image.props, tags::AttachExtension), ".png");
    EXPECT_EQ(str(m.attachments.at(1).props, tags::AttachFilename), "REPORT.PDF");
    // The transport headers are the header block itself, ending with an empty line.
    const std::string headers = str(m.props, tags::TransportMessageHeaders);
    EXPECT_TRUE(headers.starts_with("From: Anna Example <anna@example.com>\r\n")) << headers;
    EXPECT_TRUE(headers.ends_with("boundary=\"mix\"\r\n\r\n")) << headers;

    // A header holding one bare address is taken as it stands, even where the address parser
    // cuts it; a folded or 8-bit header is read as decoded.
    const Message odd = importText("From: host!user@relay@example.org\r\nTo:\r\n ann@example.org"
                                   "\r\nCc: b\xC3\xA9@example.org\r\n\r\nx\r\n");
    EXPECT_EQ(str(odd.props, tags::SenderEmailAddress), "host!user@relay@example.org");
    ASSERT_EQ(odd.recipients.size(), 2u);
    EXPECT_EQ(str(odd.recipients[0].props, tags::EmailAddress), "ann@example.org");
    EXPECT_EQ(str(odd.recipients[1].props, tags::EmailAddress), "b\xC3\xA9@example.org");
}

TEST(MimeImport, ForwardedMailBecomesEmbeddedMessage) {
    const auto cases = mbx::testing::hardCases();
    const Message m = importText(cases[2].eml);
    ASSERT_EQ(m.attachments.size(), 1u);
    const auto& inner = *m.attachments[0].embedded;
    EXPECT_EQ(m.attachments[0].props.int32(tags::AttachMethod).value_or(0), 5);
    EXPECT_EQ(str(inner.props, tags::SentRepresentingEmailAddress), "gina@example.org");
    EXPECT_EQ(unixTime(inner.props, tags::ClientSubmitTime), 1796233500);
    ASSERT_EQ(inner.recipients.size(), 1u);
    EXPECT_EQ(str(inner.recipients[0].props, tags::DisplayName), "Fred");
    ASSERT_EQ(inner.attachments.size(), 1u);
    const auto& csv = std::get<Bytes>(*inner.attachments[0].props.find(tags::AttachDataBinary));
    // The line end before a boundary belongs to the boundary.
    EXPECT_EQ(std::string(csv.begin(), csv.end()), "a,b\r\n1,2");
    // An attached mail is neither read nor unsent; it has its own attachment.
    EXPECT_EQ(inner.props.int32(tags::MessageFlags).value_or(-1), tags::MsgFlagHasAttach);
    EXPECT_EQ(m.props.int32(tags::MessageFlags).value_or(-1),
              tags::MsgFlagRead | tags::MsgFlagHasAttach);
}

// Damaged structures keep their text: a multipart without boundary at the top and inside an
// attached mail, and a part whose headers run straight into its content.
TEST(MimeImport, DamagedStructuresKeepTheirText) {
    const Message top = importText("Subject: x\r\nContent-Type: multipart/mixed\r\n\r\n"
                                   "Lost text one.\r\n");
    EXPECT_NE(str(top.props, tags::Body).find("Lost text one."), std::string::npos);

    const Message outer =
        importText("Subject: outer\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
                   "Content-Type: text/plain\r\n\r\nSee attached.\r\n--o\r\n"
                   "Content-Type: message/rfc822\r\n\r\nSubject: inner\r\n"
                   "Content-Type: multipart/mixed\r\n\r\nLost text two.\r\n--o--\r\n");
    ASSERT_EQ(outer.attachments.size(), 1u);
    ASSERT_TRUE(outer.attachments[0].embedded);
    EXPECT_NE(str(outer.attachments[0].embedded->props, tags::Body).find("Lost text two."),
              std::string::npos);

    const Message glued =
        importText("Subject: glued\r\nContent-Type: multipart/mixed; boundary=g\r\n\r\n--g\r\n"
                   "Content-Type: text/plain\r\n\r\nBody.\r\n--g\r\n"
                   "Content-Type: application/octet-stream; name=a.bin\r\n"
                   "Content-Transfer-Encoding: base64\r\nQUJD\r\n\r\n--g--\r\n");
    ASSERT_EQ(glued.attachments.size(), 1u);
    EXPECT_EQ(dataSize(glued.attachments[0]), 3u); // "ABC"
}

// Mail edited on several systems mixes line ends. The line end before a boundary belongs to the
// boundary, whatever its kind: no byte of the part before it may be lost or added.
TEST(MimeImport, MixedLineEndsAroundBoundariesLoseNothing) {
    for (const std::string before : {"\n", "\r\n"}) {
        for (const std::string after : {"\n", "\r\n"}) {
            SCOPED_TRACE(testing::PrintToString(before + "|" + after));
            const Message m =
                importText("Subject: mixed\r\nMIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                           "Content-Type: text/plain\r\n\r\nhi\r\n--b\r\n"
                           "Content-Type: application/octet-stream; name=a.bin\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=" +
                           before + "--b" + after +
                           "Content-Type: application/octet-stream; name=b.bin\r\n\r\nabc\ndef" +
                           before + "--b--" + after);
            ASSERT_EQ(m.attachments.size(), 2u);
            const auto bytes = [&](std::size_t i) {
                const auto& b =
                    std::get<Bytes>(*m.attachments[i].props.find(tags::AttachDataBinary));
                return std::string(reinterpret_cast<const char*>(b.data()), b.size());
            };
            EXPECT_EQ(bytes(0), "hello");
            EXPECT_EQ(bytes(1), "abc\ndef");
        }
    }
}

// Each transfer encoding undone to the very bytes, a base64 part longer than one read of the
// decoder among them (its pieces must join without a byte lost or doubled).
TEST(MimeImport, EveryTransferEncodingDecodesToItsBytes) {
    std::string random(40000, '\0');
    std::mt19937 generate(3);
    for (auto& c : random)
        c = static_cast<char>(generate());
    const Message m =
        importText("Subject: encodings\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                   "--b\r\nContent-Type: application/octet-stream; name=r.bin\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n" +
                   base64Lines(random) +
                   "--b\r\nContent-Type: application/octet-stream; name=q.txt\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9 =\r\nat=3D\r\n"
                   "--b\r\nContent-Type: application/octet-stream; name=u.txt\r\n"
                   "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644 u.txt\r\n"
                   "6:&5L;&\\L('5U96YC;V1E9\"!W;W)L9   \r\n`\r\nend\r\n"
                   "--b--\r\n");
    ASSERT_EQ(m.attachments.size(), 3u);
    const auto bytes = [&](std::size_t i) {
        const auto& b = std::get<Bytes>(*m.attachments[i].props.find(tags::AttachDataBinary));
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    };
    EXPECT_EQ(bytes(0), random);
    EXPECT_EQ(bytes(1), "caf\xC3\xA9 at="); // (the line end before a boundary is the boundary's)
    EXPECT_EQ(bytes(2), "hello, uuencoded world");
}

// Many declared boundaries and many lines that look like delimiters: the repair of part headers
// compares each line with the boundaries by lookup, so this 4 MB message imports in about a
// second. Compared pairwise it takes minutes, and the test runs into its time limit.
TEST(MimeImport, ManyBoundariesAndDelimiterLikeLines) {
    std::string eml = "Subject: many\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 120000; ++i) {
        const std::string n = std::to_string(100000 + i);
        eml += "boundary=a" + n + "\r\n--z" + n + "\r\n";
    }
    eml += "--b\r\nContent-Type: text/plain\r\nlast line\r\n--b--\r\n";
    const Message m = importText(eml);
    EXPECT_NE(str(m.props, tags::Body).find("last line"), std::string::npos);
}

TEST(MimeImport, HeaderTextDecoding) {
    const auto cases = mbx::testing::hardCases();
    for (const auto& c : cases) {
        const Message m = importText(c.eml);
        if (c.name == "EncodedWordSubject") {
            EXPECT_EQ(str(m.props, tags::SenderName), "Andr\xC3\xA9");
            EXPECT_EQ(str(m.props, tags::DisplayTo), "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
        } else if (c.name == "Bare8BitHeaders") {
            // Not UTF-8, so Windows-1252: 0xFC is ü and 0x80 is the euro sign.
            EXPECT_EQ(str(m.props, tags::SenderName), "J\xC3\xBCrgen M\xC3\xBCller");
            EXPECT_EQ(str(m.props, tags::DisplayTo), "\xE2\x82\xAC"
                                                     "uro Team");
            EXPECT_EQ(unixTime(m.props, tags::ClientSubmitTime), 1796601723);
        } else if (c.name == "NoHeaders") {
            // The separator's date is all there is.
            EXPECT_EQ(unixTime(m.props, tags::MessageDeliveryTime), 1796638272);
            EXPECT_FALSE(m.props.has(tags::TransportMessageHeaders));
        }
    }
}

TEST(MimeImport, RawBytesInsideEncodedWordsUseTheWordsCharset) {
    // As old Eudora versions sent it: 8-bit bytes inside "Q" words, in an address's name and in
    // the subject. Each word's own charset decodes them, in every kind of header.
    const Message m = importText("From: =?iso-8859-1?Q?J\xFCrgen?= <j@example.org>\r\n"
                                 "To: Heinz =?iso-8859-1?Q?M\xFCller?= <m@example.com>,\r\n"
                                 " =?windows-1252?q?\x80_desk?= <e@example.com>\r\n"
                                 "Subject: =?iso-8859-1?Q?Die_Fr\xF6sche?=\r\n\r\nx\r\n");
    EXPECT_EQ(str(m.props, tags::SenderName), "J\xC3\xBCrgen");
    EXPECT_EQ(str(m.props, tags::Subject), "Die Fr\xC3\xB6sche");
    ASSERT_EQ(m.recipients.size(), 2u);
    EXPECT_EQ(str(m.recipients[0].props, tags::DisplayName), "Heinz M\xC3\xBCller");
    EXPECT_EQ(str(m.recipients[1].props, tags::DisplayName), "\xE2\x82\xAC desk");
    // The transport headers keep the words as they came (not rewritten with =XX escapes).
    const std::string headers = str(m.props, tags::TransportMessageHeaders);
    EXPECT_NE(headers.find("=?iso-8859-1?Q?M\xC3\xBCller?="), std::string::npos) << headers;
}

// Bytes that only look like UTF-8 (code points above U+10FFFF, 5-byte forms) and RFC 2231 names
// in a charset nobody knows are bare 8-bit text: Windows-1252 then. (Replaying the same inputs,
// the import_model fuzz harness checks that every string of the model is valid UTF-8.)
TEST(MimeImport, TextThatIsNotUtf8FallsBackToWindows1252) {
    const Message m = importText(
        "From: \xF5\x80\x80\x80 Sender <s@example.org>\r\n"
        "To: \xF8\x88\x80\x80\x80 <t@example.org>\r\n"
        "Subject: \xF6\xBB\x9E\x8B\r\nMessage-ID: <\xF4\x90\x80\x80@x>\r\n"
        "Thread-Topic: =?utf-8?Q?=F4=90=80=80?=\r\n"
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: text/plain\r\n\r\nx\r\n--b\r\n"
        "Content-Type: application/pdf\r\n"
        "Content-Disposition: attachment; filename*=x-unknown''%E4rger.pdf\r\n\r\nA\r\n--b\r\n"
        "Content-Type: application/pdf; name*=''%FCber.pdf\r\n\r\nA\r\n--b--\r\n");
    EXPECT_EQ(str(m.props, tags::Subject), "\xC3\xB6\xC2\xBB\xC5\xBE\xE2\x80\xB9");
    EXPECT_EQ(str(m.props, tags::SenderName),
              "\xC3\xB5\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC Sender");
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(str(m.attachments[0].props, tags::AttachLongFilename), "\xC3\xA4rger.pdf");
    EXPECT_EQ(str(m.attachments[0].props, tags::DisplayName), "\xC3\xA4rger.pdf");
    EXPECT_EQ(str(m.attachments[1].props, tags::AttachLongFilename), "\xC3\xBC"
                                                                     "ber.pdf");
}

TEST(MimeImport, SubjectPrefixRules) {
    const struct {
        const char* subject;
        const char* prefix; // nullptr = none
        const char* normalized;
    } rows[] = {{"RE: x", "RE: ", "x"},        {"Fwd: x", "Fwd: ", "x"},
                {"Re:x", "Re: ", "x"},         {"ABCD: x", nullptr, "ABCD: x"},
                {"1: x", nullptr, "1: x"},     {"\xC3\x84W: x", "\xC3\x84W: ", "x"},
                {"a b: x", nullptr, "a b: x"}, {"No colon", nullptr, "No colon"}};
    for (const auto& r : rows) {
        const Message m = importText(std::string("Subject: ") + r.subject + "\r\n\r\nx\r\n");
        SCOPED_TRACE(r.subject);
        EXPECT_EQ(str(m.props, tags::Subject), r.subject);
        EXPECT_EQ(str(m.props, tags::SubjectPrefix), r.prefix ? r.prefix : "<absent>");
        EXPECT_EQ(str(m.props, tags::NormalizedSubject), r.normalized);
    }
}

TEST(MimeImport, CharsetDecodingAndCodePages) {
    using mbx::mime::decodeCharset;
    using mbx::mime::decodeText;
    using mbx::mime::isUtf8;
    // Well-formed UTF-8 only: overlong forms, surrogates and cut sequences are not.
    EXPECT_TRUE(isUtf8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isUtf8("\xC0\xAF"));     // overlong '/'
    EXPECT_FALSE(isUtf8("\xED\xA0\x80")); // UTF-16 surrogate
    EXPECT_FALSE(isUtf8("cut \xE2\x82")); // sequence cut at the end
    EXPECT_FALSE(isUtf8("caf\xE9"));      // Latin-1
    // The scans that take sixteen or thirty-two ASCII bytes at a time find one 8-bit character
    // wherever it falls, and UTF-16 conversion widens every byte around it.
    for (std::size_t at = 0; at < 70; ++at) {
        std::string text(70, 'a');
        text[at] = '\xE9';
        EXPECT_FALSE(isUtf8(text)) << at;
        text.replace(at, 1, "\xC3\xA9");
        const Bytes wide = mbx::mapi::utf16leBytes(text);
        ASSERT_EQ(wide.size(), 140u);
        for (std::size_t i = 0; i < 70; ++i) {
            EXPECT_EQ(wide[2 * i], i == at ? 0xE9 : 'a') << at;
            EXPECT_EQ(wide[2 * i + 1], 0) << at;
        }
    }
    // Windows-1252, including the bytes it leaves undefined (kept as C1 controls).
    EXPECT_EQ(mbx::mime::windows1252ToUtf8("\x80\x81\x9F\xFF"),
              "\xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xBF");
    // And back; what the code page lacks (here a Greek letter and an emoji) becomes one '?' each.
    EXPECT_EQ(mbx::mime::utf8ToWindows1252(
                  "\xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xBF \xCE\xA9\xF0\x9F\x98\x80 end"),
              "\x80\x81\x9F\xFF ?? end");
    EXPECT_EQ(decodeText("caf\xE9", ""), "caf\xC3\xA9");
    EXPECT_EQ(decodeText("caf\xC3\xA9", ""), "caf\xC3\xA9");
    EXPECT_EQ(decodeText("caf\xE9", "x-no-such-charset"), "caf\xC3\xA9");
    EXPECT_FALSE(decodeCharset("x", "x-no-such-charset").has_value());
    // A broken Shift_JIS lead byte becomes U+FFFD and decoding goes on.
    EXPECT_EQ(decodeText("\x82\xA0\x82 ok", "shift_jis"), "\xE3\x81\x82\xEF\xBF\xBD ok");
    EXPECT_EQ(decodeText("\xF0\xD2\xC9", "KOI8-R"), "\xD0\x9F\xD1\x80\xD0\xB8");
    EXPECT_EQ(mbx::mime::codePageOf(" \"ISO-8859-15\" ").value_or(0), 28605);
    EXPECT_EQ(mbx::mime::codePageOf("ks_c_5601-1987").value_or(0), 949);
    EXPECT_FALSE(mbx::mime::codePageOf("x-no-such-charset").has_value());

    // HTML without a charset parameter: its own meta tag names the code page.
    const Message m = importText("Subject: h\r\nContent-Type: text/html\r\n\r\n"
                                 "<html><head><meta http-equiv=\"Content-Type\" "
                                 "content=\"text/html; charset=koi8-r\"></head>\xF0</html>\r\n");
    EXPECT_EQ(m.props.int32(tags::InternetCodepage).value_or(0), 20866);
    const auto& html = std::get<Bytes>(*m.props.find(tags::Html));
    EXPECT_NE(std::string(html.begin(), html.end()).find("\xF0"), std::string::npos);
}

TEST(MimeImport, PriorityImportanceSensitivityAndReceived) {
    const struct {
        const char* headers;
        int importance;
        int priority;
        int sensitivity;
    } rows[] = {{"X-Priority: 1 (Highest)\r\n", 2, 0, 0},
                {"X-Priority: 3\r\n", 1, 0, 0},
                {"X-Priority: 5 (Lowest)\r\n", 0, 0, 0},
                {"Importance: low\r\nX-Priority: 1\r\n", 0, 0, 0},
                {"X-MSMail-Priority: High\r\n", 2, 0, 0},
                {"Priority: urgent\r\nSensitivity: Company-Confidential\r\n", 1, 1, 3},
                {"Priority: non-urgent\r\nSensitivity: Private\r\n", 1, -1, 2}};
    for (const auto& r : rows) {
        const Message m = importText(std::string("From: a@b.c\r\n") + r.headers + "\r\nx\r\n");
        SCOPED_TRACE(r.headers);
        EXPECT_EQ(m.props.int32(tags::Importance).value_or(-9), r.importance);
        EXPECT_EQ(m.props.int32(tags::Priority).value_or(-9), r.priority);
        EXPECT_EQ(m.props.int32(tags::Sensitivity).value_or(-9), r.sensitivity);
    }
    // Delivery time comes from the topmost (newest) Received header, folded or not.
    const Message m = importText("Received: from a by b;\r\n\tMon, 07 Dec 2026 10:00:05 +0000\r\n"
                                 "Received: from c by a; Mon, 07 Dec 2026 09:59:00 +0000\r\n"
                                 "Date: Mon, 07 Dec 2026 09:58:00 +0000\r\n\r\nx\r\n");
    EXPECT_EQ(unixTime(m.props, tags::MessageDeliveryTime), 1796637605);
    EXPECT_EQ(unixTime(m.props, tags::ClientSubmitTime), 1796637480);
}

TEST(MimeImport, MissingFileThrows) {
    EXPECT_THROW(importRfc822(fs::path(MBX_SCRATCH_DIR) / "does-not-exist.eml"),
                 mbx::mime::ImportError);
}

// Every message of the test data imports; a few carry known values.
TEST(MimeImport, RealMessages) {
    const fs::path real = MBX_DATA_DIR;
    std::vector<std::pair<std::string, std::string>> messages; // name, bytes
    for (auto& m : mbx::testing::realEmlFiles(real)) {
        messages.emplace_back(m.name, std::move(m.bytes));
    }
    for (auto& m : mbx::testing::realMailboxMessages(real)) {
        messages.emplace_back(m.name, std::move(m.bytes));
    }
    for (auto& m : mbx::testing::realEudoraMessages(real)) {
        messages.emplace_back(m.name, std::move(m.bytes));
    }
    ASSERT_GE(messages.size(), 60u);
    std::map<std::string, Message> byName;
    for (const auto& [name, bytes] : messages) {
        Message m = importText(bytes);
        expectSane(m, name);
        const bool anyContent =
            m.props.has(tags::Body) || m.props.has(tags::Html) || !m.attachments.empty();
        const auto blank =
            bytes.find("\n\n") != std::string::npos ? bytes.find("\n\n") : bytes.find("\n\r\n");
        const bool hasBodyText = blank != std::string::npos &&
                                 bytes.find_first_not_of(" \t\r\n", blank) != std::string::npos;
        EXPECT_EQ(anyContent, hasBodyText) << name;
        byName.emplace(name, std::move(m));
    }

    const auto& m2001 = byName.at("hunnysoft-eudora42__m2001.txt");
    EXPECT_EQ(str(m2001.props, tags::Subject), "Die Hasen und die Fr\xC3\xB6sche");
    EXPECT_EQ(str(m2001.props, tags::DisplayTo), "J\xC3\xBCrgen Schm\xC3\xBCrgen");
    EXPECT_NE(str(m2001.props, tags::Body)
                  .find("klagten einst \xC3\xBC"
                        "ber"),
              std::string::npos);

    const auto& m2015 = byName.at("hunnysoft-eudora42__m2015.txt");
    EXPECT_EQ(str(m2015.props, tags::Subject), "Die Hasen und die Fr\xC3\xB6sche");
    EXPECT_EQ(str(m2015.props, tags::DisplayTo), "Heinz M\xC3\xBCller");
    EXPECT_EQ(m2015.props.int32(tags::Importance).value_or(0), 2);

    const auto& sjis = byName.at("rubymail__japanese_shift_jis.eml");
    EXPECT_NE(str(sjis.props, tags::Body).find("\xE3\x81\x82\xE3\x81\x84"), std::string::npos);
    EXPECT_EQ(sjis.props.int32(tags::InternetCodepage).value_or(0), 932);

    const auto& fwd = byName.at("rubymail__attachment_message_rfc822.eml");
    ASSERT_FALSE(fwd.attachments.empty());
    EXPECT_TRUE(fwd.attachments.back().embedded != nullptr);

    const auto& badName = byName.at("enmime__mime-bad-8bit-filename.raw");
    ASSERT_FALSE(badName.attachments.empty());
    EXPECT_TRUE(badName.attachments[0].props.has(tags::AttachLongFilename));
}
