// Repairs of the raw message text before GMime reads it: the mailbox separator and the header
// block found, part headers that run into their content, raw bytes inside encoded words.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime::detail {

struct Split {
    std::string_view separator; // the mailbox separator line without its line end, or empty
    std::string_view content;   // everything after it: headers and body
    std::string_view headers;   // the header block including its line ends, or empty
    std::string_view body;      // after the blank line that ends the header block
};

bool looksLikeHeaderLine(std::string_view s);
Split splitInput(std::string_view in);
// Boundaries declared anywhere in the text (boundary=... parameters).
std::vector<std::string> declaredBoundaries(std::string_view text);
// Raw 8-bit bytes inside "Q" encoded words escaped as =XX; nothing when there are none.
std::optional<std::string> escapeRawBytesInQWords(std::string_view text);
// An empty line put where a part's content starts right after its headers, and the line ends
// around a boundary made alike where they differ; nothing when no part needs either.
std::optional<std::string> repairPartHeaders(std::string_view text,
                                             const std::vector<std::string>& boundaries);
// The header block as PidTagTransportMessageHeaders holds it.
std::string transportHeaders(std::string_view raw);

} // namespace mbx::mime::detail
