// Hand-written messages for the cases real mailboxes rarely show in one place. Their text is the
// import fuzz corpus (tests/fuzz/corpus/import/NAME.eml); here are the values expected of them.
// Shared by the import tests (expected MAPI values) and the MSG tests (outside readers against
// the source).
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mbx::testing {

struct ExpectedAttachment {
    std::string name; // long file name, or the display name of an attached mail
    std::string mime;
    std::size_t size = 0; // decoded bytes; 0 for an attached mail
    bool hidden = false;
    bool embedded = false;
};

struct HardCase {
    std::string name;
    std::string subject;      // UTF-8
    std::string bodyContains; // UTF-8, in PidTagBody
    bool html = false;
    int codePage = 0; // PidTagInternetCodepage, 0 = not checked
    std::vector<ExpectedAttachment> attachments;
    std::string eml = {}; // read from the corpus
};

inline std::vector<HardCase> hardCases() {
    std::vector<HardCase> cases = {
        {"AlternativeWithRelatedImages",
         "RE: Pictures",
         "See the picture below.",
         true,
         65001,
         {{"dot.png", "image/png", 708, true}, {"report.pdf", "application/pdf", 3009}}},
        {"NestedMultiparts",
         "Nested",
         "Three levels down. Caf\xC3\xA9.",
         true,
         65001,
         {{"notes.txt", "text/plain", 18}, {"data.bin", "application/octet-stream", 1000}}},
        {"ForwardedMessage",
         "Fwd: Budget",
         "Forwarding the budget mail.",
         false,
         0,
         {{"Budget", "message/rfc822", 0, false, true}}},
        {"Latin1",
         "Latin1",
         "Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln",
         false,
         28591,
         {}},
        {"Windows1252",
         "Windows1252",
         "\xE2\x82\xAC 5 \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\xA6",
         false,
         1252,
         {}},
        {"ShiftJis",
         "ShiftJis",
         "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",
         false,
         932,
         {}},
        {"Koi8r", "Koi8r", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", false, 20866, {}},
        {"Utf8", "Utf8", "\xE2\x9C\x93 \xF0\x9F\x98\x80 \xC4\x8D", false, 65001, {}},
        {"EncodedWordSubject",
         "\xC3\x84pril M\xC3\xA4rz\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         "Body.",
         false,
         0,
         {}},
        {"Rfc2231Names",
         "Names",
         "Two files.",
         false,
         0,
         {{"\xE2\x82\xAC rates 2026.txt", "text/plain", 4},
          {"Tr\xC3\xA4ume und lange Namen.dat", "application/octet-stream", 300}}},
        {"NoHeaders",
         "",
         "Just a note without any header at all.\r\nSecond line.",
         false,
         65001,
         {}},
        // A mailbox can end right after a separator line.
        {"SeparatorOnly", "", "", false, 0, {}},
        // Six whole base64 lines of 57 bytes each, then the file just stops.
        {"TruncatedMultipart",
         "Cut off",
         "The upload broke.",
         false,
         0,
         {{"partial.bin", "application/octet-stream", 6 * 57}}},
        {"Bare8BitHeaders",
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

} // namespace mbx::testing
