// Hand-written messages for the cases real mailboxes rarely show in one place. Their text is the
// import fuzz corpus (tests/fuzz/corpus/import/NAME.eml); here are the values expected of them.
// Shared by the import tests (expected MAPI values) and the MSG tests (outside readers against
// the source).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mbx::testing {

inline std::string base64(const std::string& data, std::size_t lineLength = 76) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + data.size() / lineLength * 2 + 8);
    std::size_t col = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::uint32_t b0 = static_cast<unsigned char>(data[i]);
        const std::uint32_t b1 = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0;
        const std::uint32_t b2 = i + 2 < data.size() ? static_cast<unsigned char>(data[i + 2]) : 0;
        const std::uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back(i + 2 < data.size() ? kAlphabet[v & 63] : '=');
        col += 4;
        if (col >= lineLength) {
            out += "\r\n";
            col = 0;
        }
    }
    if (col != 0) {
        out += "\r\n";
    }
    return out;
}

// Deterministic bytes of every value (xorshift), so attachments exercise all 256 byte values.
inline std::string noise(std::size_t size, std::uint32_t start) {
    std::string out(size, '\0');
    std::uint32_t x = start | 1;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return out;
}

struct ExpectedAttachment {
    std::string name; // long file name, or the display name of an attached mail
    std::string mime;
    std::size_t size = 0; // decoded bytes; 0 for an attached mail
    bool hidden = false;
    bool embedded = false;
};

struct HardCase {
    std::string name;
    std::string eml;
    std::string subject;      // UTF-8
    std::string bodyContains; // UTF-8, in PidTagBody
    bool html = false;
    int codePage = 0; // PidTagInternetCodepage, 0 = not checked
    std::vector<ExpectedAttachment> attachments;
};

inline const std::string kSeparator = "From ???@??? Mon Dec 07 10:11:12 2026\r\n";

inline std::vector<HardCase> hardCases() {
    std::vector<HardCase> cases = {
        {"AlternativeWithRelatedImages",
         "",
         "RE: Pictures",
         "See the picture below.",
         true,
         65001,
         {{"dot.png", "image/png", 708, true}, {"report.pdf", "application/pdf", 3009}}},
        {"NestedMultiparts",
         "",
         "Nested",
         "Three levels down. Caf\xC3\xA9.",
         true,
         65001,
         {{"notes.txt", "text/plain", 18}, {"data.bin", "application/octet-stream", 1000}}},
        {"ForwardedMessage",
         "",
         "Fwd: Budget",
         "Forwarding the budget mail.",
         false,
         0,
         {{"Budget", "message/rfc822", 0, false, true}}},
        {"Latin1",
         "",
         "Latin1",
         "Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln",
         false,
         28591,
         {}},
        {"Windows1252",
         "",
         "Windows1252",
         "\xE2\x82\xAC 5 \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\xA6",
         false,
         1252,
         {}},
        {"ShiftJis",
         "",
         "ShiftJis",
         "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",
         false,
         932,
         {}},
        {"Koi8r",
         "",
         "Koi8r",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         false,
         20866,
         {}},
        {"Utf8", "", "Utf8", "\xE2\x9C\x93 \xF0\x9F\x98\x80 \xC4\x8D", false, 65001, {}},
        {"EncodedWordSubject",
         "",
         "\xC3\x84pril M\xC3\xA4rz\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         "Body.",
         false,
         0,
         {}},
        {"Rfc2231Names",
         "",
         "Names",
         "Two files.",
         false,
         0,
         {{"\xE2\x82\xAC rates 2026.txt", "text/plain", 4},
          {"Tr\xC3\xA4ume und lange Namen.dat", "application/octet-stream", 300}}},
        {"NoHeaders",
         "",
         "",
         "Just a note without any header at all.\r\nSecond line.",
         false,
         65001,
         {}},
        // A mailbox can end right after a separator line.
        {"SeparatorOnly", "", "", "", false, 0, {}},
        // Six whole base64 lines of 57 bytes each, then the file just stops.
        {"TruncatedMultipart",
         "",
         "Cut off",
         "The upload broke.",
         false,
         0,
         {{"partial.bin", "application/octet-stream", 6 * 57}}},
        {"Bare8BitHeaders",
         "",
         "Preis 5 \xE2\x82\xAC f\xC3\xBCr Caf\xC3\xA9",
         "Nur Text.",
         false,
         0,
         {}},
    };
    for (auto& c : cases) {
        std::ifstream in(MBX_SOURCE_DIR "/tests/fuzz/corpus/import/" + c.name + ".eml",
                         std::ios::binary);
        c.eml.assign(std::istreambuf_iterator<char>(in), {});
    }
    return cases;
}

// A 20 MB attachment (base64 in the mail, so about 27 MB of text).
inline HardCase bigAttachmentCase() {
    const std::string data = noise(20u * 1024u * 1024u, 20);
    return {"TwentyMegabytes",
            kSeparator +
                "From: big@example.com\r\nTo: you@example.com\r\nSubject: Big\r\n"
                "Date: Mon, 07 Dec 2026 02:00:00 +0000\r\n"
                "MIME-Version: 1.0\r\n"
                "Content-Type: multipart/mixed; boundary=\"big\"\r\n\r\n"
                "--big\r\n"
                "Content-Type: text/plain\r\n\r\n"
                "Large file attached.\r\n"
                "--big\r\n"
                "Content-Type: application/octet-stream; name=\"big.bin\"\r\n"
                "Content-Disposition: attachment; filename=\"big.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" +
                base64(data) + "--big--\r\n",
            "Big",
            "Large file attached.",
            false,
            0,
            {{"big.bin", "application/octet-stream", data.size(), false, false}}};
}

} // namespace mbx::testing
