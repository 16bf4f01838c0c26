// Hand-written messages for the cases real mailboxes rarely show in one place. Shared by the
// import tests (expected MAPI values) and the MSG tests (outside readers against the source).
#pragma once

#include <cstdint>
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
    std::vector<HardCase> cases;
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + noise(700, 7);
    const std::string pdf = "%PDF-1.4\n" + noise(3000, 11);

    cases.push_back(
        {"AlternativeWithRelatedImages",
         kSeparator +
             "From: Anna Example <anna@example.com>\r\n"
             "To: Bob <bob@example.org>, carol@example.net\r\n"
             "Cc: Dave <dave@example.com>\r\n"
             "Subject: RE: Pictures\r\n"
             "Date: Tue, 01 Dec 2026 09:30:00 +0100\r\n"
             "Message-ID: <alt-rel@example.com>\r\n"
             "MIME-Version: 1.0\r\n"
             "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n"
             "This is a multi-part message in MIME format.\r\n"
             "--mix\r\n"
             "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
             "--alt\r\n"
             "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
             "See the picture below.\r\n"
             "--alt\r\n"
             "Content-Type: multipart/related; boundary=\"rel\"; type=\"text/html\"\r\n\r\n"
             "--rel\r\n"
             "Content-Type: text/html; charset=utf-8\r\n\r\n"
             "<html><body><p>See the picture below.</p><img src=\"cid:img1@x\"></body></html>\r\n"
             "--rel\r\n"
             "Content-Type: image/png; name=\"dot.png\"\r\n"
             "Content-Transfer-Encoding: base64\r\n"
             "Content-ID: <img1@x>\r\n\r\n" +
             base64(png) +
             "--rel--\r\n"
             "--alt--\r\n"
             "--mix\r\n"
             "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
             "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" +
             base64(pdf) + "--mix--\r\n",
         "RE: Pictures",
         "See the picture below.",
         true,
         65001,
         {{"dot.png", "image/png", png.size(), true, false},
          {"report.pdf", "application/pdf", pdf.size(), false, false}}});

    cases.push_back({"NestedMultiparts",
                     "From: nest@example.com\r\n"
                     "To: Deep Reader <deep@example.com>\r\n"
                     "Subject: Nested\r\n"
                     "Date: Wed, 02 Dec 2026 10:00:00 -0500\r\n"
                     "MIME-Version: 1.0\r\n"
                     "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
                     "--outer\r\n"
                     "Content-Type: multipart/mixed; boundary=\"inner\"\r\n\r\n"
                     "--inner\r\n"
                     "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
                     "--alt\r\n"
                     "Content-Type: text/plain; charset=utf-8\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                     "Three levels down=2E Caf=C3=A9.\r\n"
                     "--alt\r\n"
                     "Content-Type: text/html; charset=utf-8\r\n\r\n"
                     "<p>Three levels down. Caf\xC3\xA9.</p>\r\n"
                     "--alt--\r\n"
                     "--inner\r\n"
                     "Content-Type: text/plain; charset=us-ascii; name=\"notes.txt\"\r\n"
                     "Content-Disposition: attachment; filename=\"notes.txt\"\r\n\r\n"
                     "line one\r\nline two\r\n"
                     "--inner--\r\n"
                     "--outer\r\n"
                     "Content-Type: application/octet-stream\r\n"
                     "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" +
                         base64(noise(1000, 3)) + "--outer--\r\n",
                     "Nested",
                     "Three levels down. Caf\xC3\xA9.",
                     true,
                     65001,
                     {{"notes.txt", "text/plain", 18, false, false},
                      {"data.bin", "application/octet-stream", 1000, false, false}}});

    cases.push_back({"ForwardedMessage",
                     kSeparator + "From: Fred <fred@example.com>\r\n"
                                  "To: team@example.com\r\n"
                                  "Subject: Fwd: Budget\r\n"
                                  "Date: Thu, 03 Dec 2026 08:00:00 +0000\r\n"
                                  "MIME-Version: 1.0\r\n"
                                  "Content-Type: multipart/mixed; boundary=\"fw\"\r\n\r\n"
                                  "--fw\r\n"
                                  "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
                                  "Forwarding the budget mail.\r\n"
                                  "--fw\r\n"
                                  "Content-Type: message/rfc822\r\n"
                                  "Content-Disposition: attachment\r\n\r\n"
                                  "From: Gina <gina@example.org>\r\n"
                                  "To: Fred <fred@example.com>\r\n"
                                  "Subject: Budget\r\n"
                                  "Date: Wed, 02 Dec 2026 17:45:00 +0000\r\n"
                                  "MIME-Version: 1.0\r\n"
                                  "Content-Type: multipart/mixed; boundary=\"in\"\r\n\r\n"
                                  "--in\r\n"
                                  "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
                                  "Numbers attached.\r\n"
                                  "--in\r\n"
                                  "Content-Type: text/csv; name=\"budget.csv\"\r\n"
                                  "Content-Disposition: attachment; filename=\"budget.csv\"\r\n\r\n"
                                  "a,b\r\n1,2\r\n"
                                  "--in--\r\n"
                                  "--fw--\r\n",
                     "Fwd: Budget",
                     "Forwarding the budget mail.",
                     false,
                     0,
                     {{"Budget", "message/rfc822", 0, false, true}}});

    const auto textCase = [](std::string name, std::string charset, std::string cte,
                             std::string body, std::string expected, int cp) {
        return HardCase{name,
                        "From: charset@example.com\r\nTo: reader@example.com\r\n"
                        "Subject: " +
                            name +
                            "\r\nDate: Fri, 04 Dec 2026 12:00:00 +0900\r\n"
                            "MIME-Version: 1.0\r\n"
                            "Content-Type: text/plain; charset=" +
                            charset + "\r\nContent-Transfer-Encoding: " + cte + "\r\n\r\n" + body,
                        name,
                        expected,
                        false,
                        cp,
                        {}};
    };
    cases.push_back(textCase("Latin1", "ISO-8859-1", "quoted-printable", "Gr=FC=DFe aus K=F6ln\r\n",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e aus K\xC3\xB6ln",
                             28591));
    cases.push_back(textCase("Windows1252", "windows-1252", "8bit",
                             "\x80 5 \x93quoted\x94 \x85\r\n",
                             "\xE2\x82\xAC 5 \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\xA6", 1252));
    cases.push_back(textCase("ShiftJis", "Shift_JIS", "base64",
                             base64("\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\r\n"),
                             "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF", 932));
    cases.push_back(textCase("Koi8r", "koi8-r", "8bit", "\xF0\xD2\xC9\xD7\xC5\xD4\r\n",
                             "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 20866));
    cases.push_back(textCase("Utf8", "utf-8", "base64",
                             base64("\xE2\x9C\x93 \xF0\x9F\x98\x80 \xC4\x8D\r\n"),
                             "\xE2\x9C\x93 \xF0\x9F\x98\x80 \xC4\x8D", 65001));

    cases.push_back({"EncodedWordSubject",
                     "From: =?ISO-8859-1?Q?Andr=E9?= <andre@example.com>\r\n"
                     "To: =?UTF-8?B?0JjQstCw0L0=?= <ivan@example.ru>\r\n"
                     "Subject: =?UTF-8?B?w4Rwcmls?= =?ISO-8859-1?Q?_M=E4rz?=\r\n"
                     " =?koi8-r?B?8NLJ18XU?=\r\n"
                     "Date: Sat, 05 Dec 2026 07:00:00 +0200\r\n\r\n"
                     "Body.\r\n",
                     "\xC3\x84pril M\xC3\xA4rz\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
                     "Body.",
                     false,
                     0,
                     {}});

    cases.push_back(
        {"Rfc2231Names",
         "From: names@example.com\r\nTo: you@example.com\r\nSubject: Names\r\n"
         "Date: Sat, 05 Dec 2026 08:00:00 +0000\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\n"
         "Content-Type: text/plain\r\n\r\n"
         "Two files.\r\n"
         "--b\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n"
         "Content-Disposition: attachment; filename*=UTF-8''%E2%82%AC%20rates%202026.txt\r\n\r\n"
         "1.08\r\n"
         "--b\r\n"
         "Content-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment;\r\n"
         " filename*0*=ISO-8859-1''Tr%E4ume%20und%20;\r\n"
         " filename*1=\"lange Namen.dat\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
             base64(noise(300, 5)) + "--b--\r\n",
         "Names",
         "Two files.",
         false,
         0,
         {{"\xE2\x82\xAC rates 2026.txt", "text/plain", 4, false, false},
          {"Tr\xC3\xA4ume und lange Namen.dat", "application/octet-stream", 300, false, false}}});

    cases.push_back({"NoHeaders",
                     kSeparator + "Just a note without any header at all.\r\nSecond line.\r\n",
                     "",
                     "Just a note without any header at all.\r\nSecond line.",
                     false,
                     65001,
                     {}});

    // A mailbox can end right after a separator line.
    cases.push_back({"SeparatorOnly", kSeparator, "", "", false, 0, {}});

    cases.push_back({"TruncatedMultipart",
                     "From: cut@example.com\r\nTo: you@example.com\r\nSubject: Cut off\r\n"
                     "Date: Sun, 06 Dec 2026 23:59:59 -0800\r\n"
                     "MIME-Version: 1.0\r\n"
                     "Content-Type: multipart/mixed; boundary=\"cut\"\r\n\r\n"
                     "--cut\r\n"
                     "Content-Type: text/plain\r\n\r\n"
                     "The upload broke.\r\n"
                     "--cut\r\n"
                     "Content-Type: application/octet-stream\r\n"
                     "Content-Disposition: attachment; filename=\"partial.bin\"\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" +
                         // six whole lines of 57 bytes each, then the file just stops
                         base64(noise(600, 9)).substr(0, 6 * 78),
                     "Cut off",
                     "The upload broke.",
                     false,
                     0,
                     {{"partial.bin", "application/octet-stream", 6 * 57, false, false}}});

    cases.push_back({"Bare8BitHeaders",
                     kSeparator + "From: J\xFCrgen M\xFCller <jm@example.de>\r\n"
                                  "To: \x80uro Team <euro@example.de>\r\n"
                                  "Subject: Preis 5 \x80 f\xFCr Caf\xE9\r\n"
                                  "Date: Mon, 07 Dec 2026 01:02:03 +0100\r\n\r\n"
                                  "Nur Text.\r\n",
                     "Preis 5 \xE2\x82\xAC f\xC3\xBCr Caf\xC3\xA9",
                     "Nur Text.",
                     false,
                     0,
                     {}});
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
