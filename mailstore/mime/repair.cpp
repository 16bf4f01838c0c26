#include "mailstore/mime/repair.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/common.h"

#include <algorithm>
#include <unordered_set>

namespace mbx::mime::detail {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

bool looksLikeHeaderLine(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == ':') {
            return i > 0;
        }
        if (c <= 32 || c >= 127) {
            return false;
        }
        ++i;
    }
    return false;
}

Split splitInput(std::string_view in) {
    Split out;
    if (in.starts_with("\xEF\xBB\xBF")) {
        in.remove_prefix(3);
    }
    if (in.starts_with("From ")) {
        const auto eol = in.find('\n');
        out.separator = trim(in.substr(0, eol));
        in = eol == std::string_view::npos ? std::string_view{} : in.substr(eol + 1);
    }
    out.content = in;
    if (!looksLikeHeaderLine(in.substr(0, in.find('\n')))) {
        out.body = in;
        return out;
    }
    // The header block ends at the first empty line (LF or CRLF style).
    std::size_t pos = 0;
    while (pos < in.size()) {
        const auto eol = in.find('\n', pos);
        if (eol == std::string_view::npos) {
            out.headers = in;
            return out;
        }
        const std::string_view line = in.substr(pos, eol - pos);
        if (line.empty() || line == "\r") {
            out.headers = in.substr(0, pos);
            out.body = in.substr(eol + 1);
            return out;
        }
        pos = eol + 1;
    }
    out.headers = in;
    return out;
}

// Boundaries declared anywhere in the text (boundary=... parameters).
std::vector<std::string> declaredBoundaries(std::string_view text) {
    std::vector<std::string> out;
    static constexpr std::string_view kKey = "boundary=";
    for (std::size_t pos = 0; pos + kKey.size() < text.size(); ++pos) {
        pos = text.find('=', pos);
        if (pos == std::string_view::npos) {
            break;
        }
        if (pos < kKey.size() - 1 || g_ascii_strncasecmp(text.data() + pos + 1 - kKey.size(),
                                                         kKey.data(), kKey.size()) != 0) {
            continue;
        }
        std::size_t begin = pos + 1;
        const bool quoted = begin < text.size() && text[begin] == '"';
        begin += quoted ? 1 : 0;
        std::size_t end = begin;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n' &&
               (quoted ? text[end] != '"' : (text[end] != ';' && text[end] != ' '))) {
            ++end;
        }
        if (end > begin) {
            out.emplace_back(text.substr(begin, end - begin));
        }
    }
    return out;
}

// A part whose header block runs straight into its content (no empty line between them) makes
// GMime drop the whole part. When a line that is neither a header nor a continuation is not
// followed by further headers, the content starts there: an empty line is put before it so that
// the content survives. (A stray line between headers is left to GMime, which skips it.)
// Old mailers put raw 8-bit bytes inside "Q" encoded words ("=?iso-8859-1?Q?M\xFCller?=").
// Those bytes belong to the word's charset; GMime's address parser would first read them with
// the fallback charset and then decode the word on top of that, giving "MÃ¼ller". Escaping
// them as =XX makes the word well-formed so every header decodes them with its own charset.
// Returns nothing when the text has no such bytes.
std::optional<std::string> escapeRawBytesInQWords(std::string_view text) {
    std::string out;
    bool changed = false;
    std::size_t copied = 0;
    for (std::size_t start = text.find("=?"); start != std::string_view::npos;
         start = text.find("=?", start + 2)) {
        const auto charsetEnd = text.find('?', start + 2);
        if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= text.size() ||
            (text[charsetEnd + 1] != 'Q' && text[charsetEnd + 1] != 'q') ||
            text[charsetEnd + 2] != '?') {
            continue;
        }
        const auto wordStart = charsetEnd + 3;
        const auto wordEnd = text.find("?=", wordStart);
        if (wordEnd == std::string_view::npos) {
            break;
        }
        const auto word = text.substr(wordStart, wordEnd - wordStart);
        if (word.find_first_of("\r\n") != std::string_view::npos) {
            continue; // not one word
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            const auto c = static_cast<unsigned char>(word[i]);
            if (c < 0x80) {
                continue;
            }
            static constexpr char kHex[] = "0123456789ABCDEF";
            out.append(text.substr(copied, wordStart + i - copied));
            out.push_back('=');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
            copied = wordStart + i + 1;
            changed = true;
        }
        start = wordEnd;
    }
    if (!changed) {
        return std::nullopt;
    }
    out.append(text.substr(copied));
    return out;
}

std::optional<std::string> repairPartHeaders(std::string_view text,
                                             const std::vector<std::string>& boundaries) {
    if (boundaries.empty()) {
        return std::nullopt;
    }
    // Looked up by hash: a message can declare as many boundaries as it has lines.
    const std::unordered_set<std::string_view> known(boundaries.begin(), boundaries.end());
    auto isBoundary = [&](std::string_view line) {
        line = trim(line);
        if (!line.starts_with("--")) {
            return false;
        }
        line.remove_prefix(2);
        return known.contains(line) ||
               (line.ends_with("--") && known.contains(line.substr(0, line.size() - 2)));
    };
    const std::string_view eolStyle = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::vector<std::pair<std::size_t, std::string_view>> inserts;
    bool inHeaders = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t eol = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, eol - pos);
        const std::size_t next = eol + 1;
        if (!inHeaders) {
            const bool boundary = isBoundary(line);
            inHeaders = boundary && !trim(line).ends_with("--");
            // The line end before a boundary belongs to the boundary. GMime takes it to be as
            // long as the boundary line's own (CR LF or LF) and cuts that many bytes off the
            // content before it: where the two differ, the last byte of the content would be
            // lost, or a CR kept in it. Both are made CR LF.
            if (boundary && eol < text.size() && pos >= 1 && text[pos - 1] == '\n') {
                const bool crlfBefore = pos >= 2 && text[pos - 2] == '\r';
                const bool crlfAfter = !line.empty() && line.back() == '\r';
                if (crlfBefore != crlfAfter) {
                    inserts.emplace_back(crlfBefore ? eol : pos - 1, "\r");
                }
            }
        } else if (trim(line).empty()) {
            inHeaders = false;
        } else if (!looksLikeHeaderLine(line) && line.front() != ' ' && line.front() != '\t') {
            // A stray line followed by further headers is skipped by GMime; one that only has
            // content lines after it is where the content starts.
            bool moreHeaders = false;
            for (std::size_t look = next; look < text.size();) {
                const std::size_t e = std::min(text.find('\n', look), text.size());
                const std::string_view l = text.substr(look, e - look);
                if (trim(l).empty() || isBoundary(l)) {
                    break;
                }
                moreHeaders = moreHeaders || looksLikeHeaderLine(l);
                look = e + 1;
            }
            if (!moreHeaders) {
                inserts.emplace_back(pos, eolStyle);
            }
            inHeaders = false;
        }
        pos = next;
    }
    if (inserts.empty()) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(text.size() + inserts.size() * 2);
    std::size_t from = 0;
    for (const auto& [at, what] : inserts) {
        out.append(text.substr(from, at - from));
        out.append(what);
        from = at;
    }
    out.append(text.substr(from));
    return out;
}

std::string transportHeaders(std::string_view raw) {
    std::string text = toCrlf(decodeUnlabelled(raw));
    while (text.ends_with("\r\n")) {
        text.resize(text.size() - 2);
    }
    if (!text.empty()) {
        text += "\r\n\r\n";
    }
    return text;
}

} // namespace mbx::mime::detail
