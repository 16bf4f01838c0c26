#include "mailstore/mime/eudora.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <gio/gio.h>
#include <memory>

namespace mbx::mime::eudora {

namespace fs = std::filesystem;

namespace {

// Attachment sizes are 32-bit signed in the stores we write.
constexpr std::uintmax_t kLargestFile = 0x7FFFFFFF;

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(),
                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

fs::path fromUtf8(std::string_view s) {
    return fs::path(std::u8string(s.begin(), s.end()));
}

// The lines of a text, split at CRLF, LF or CR; line ends are not part of the lines.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        out.push_back(text.substr(pos, end - pos));
        pos = end;
        if (pos < text.size() && text[pos] == '\r') {
            ++pos;
        }
        if (pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
    return out;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
}

// Plain text as HTML that shows the same lines.
std::string textToHtml(std::string_view text) {
    std::string out;
    const auto lines = linesOf(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        appendEscaped(out, lines[i]);
        out += i + 1 < lines.size() ? "<br>\r\n" : "\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Line ends

bool hasLoneCr(std::string_view s) {
    for (std::size_t i = s.find('\r'); i != std::string_view::npos; i = s.find('\r', i + 1)) {
        if (i + 1 == s.size() || s[i + 1] != '\n') {
            return true;
        }
    }
    return false;
}

std::vector<std::string> boundariesIn(std::string_view text) {
    std::vector<std::string> out;
    const std::string low = lower(text);
    for (std::size_t at = low.find("boundary="); at != std::string::npos;
         at = low.find("boundary=", at + 1)) {
        std::size_t begin = at + 9;
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

bool isBinaryEncodingHeader(std::string_view line) {
    static constexpr std::string_view kName = "content-transfer-encoding:";
    return startsWithNoCase(line, kName) && lower(trim(line.substr(kName.size()))) == "binary";
}

// 0: not a boundary line; 1: a part starts; 2: the closing boundary.
int boundaryKind(std::string_view line, const std::vector<std::string>& boundaries) {
    line = trim(line);
    if (!line.starts_with("--")) {
        return 0;
    }
    line.remove_prefix(2);
    for (const auto& b : boundaries) {
        if (line == b) {
            return 1;
        }
        if (line.size() == b.size() + 2 && line.starts_with(b) && line.ends_with("--")) {
            return 2;
        }
    }
    return 0;
}

// Where the line end before the next boundary line after `from` starts, and where that
// boundary line starts; npos for both when there is none.
std::pair<std::size_t, std::size_t> nextBoundary(std::string_view text, std::size_t from,
                                                 const std::vector<std::string>& boundaries) {
    std::size_t best = std::string_view::npos;
    for (const auto& b : boundaries) {
        const std::string delimiter = "--" + b;
        for (std::size_t at = text.find(delimiter, from); at != std::string_view::npos;
             at = text.find(delimiter, at + 1)) {
            if (at > from && (text[at - 1] == '\n' || text[at - 1] == '\r')) {
                best = std::min(best, at);
                break;
            }
        }
    }
    if (best == std::string_view::npos) {
        return {best, best};
    }
    std::size_t eol = best - 1;
    if (text[eol] == '\n' && eol > from && text[eol - 1] == '\r') {
        --eol;
    }
    return {eol, best};
}

// ---------------------------------------------------------------------------------------------
// Attachment lines

bool isHex(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// Drops the Mac file type and creator "(JPEG/GKON)" and the id "(0001A2B3)" after a name.
std::string_view withoutMacSuffixes(std::string_view v) {
    for (;;) {
        v = trim(v);
        if (!v.ends_with(')')) {
            return v;
        }
        const auto open = v.rfind('(');
        if (open == std::string_view::npos) {
            return v;
        }
        const std::string_view inner = v.substr(open + 1, v.size() - open - 2);
        const bool typeCreator = inner.size() == 9 && inner[4] == '/';
        if (!typeCreator && !(inner.size() == 8 && isHex(inner))) {
            return v;
        }
        v = v.substr(0, open);
    }
}

// Drops the ": 00000001,4dc7a6d2"-style numbers after an embedded file's name.
std::string_view withoutNumbers(std::string_view v) {
    const auto colon = v.rfind(':');
    if (colon == std::string_view::npos) {
        return v;
    }
    const std::string_view tail = trim(v.substr(colon + 1));
    const bool numbers = !tail.empty() && std::all_of(tail.begin(), tail.end(), [](char c) {
        return c == ',' || c == ' ' || std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    return numbers ? trim(v.substr(0, colon)) : v;
}

bool usableName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':';
    });
}

std::string baseName(std::string_view path) {
    auto cut = path.find_last_of("\\/");
    if (cut == std::string_view::npos) {
        cut = path.rfind(':'); // Mac folders are separated by colons
    }
    std::string_view name = trim(cut == std::string_view::npos ? path : path.substr(cut + 1));
    return usableName(name) ? std::string(name) : std::string();
}

// The nearest folder, from `start` upwards, that has a sub-folder named as one of `names` (any
// case; the earlier name wins at one level).
fs::path nearestFolder(const fs::path& start, std::initializer_list<std::string_view> names,
                       bool upwards) {
    std::error_code ec;
    fs::path dir = fs::absolute(start, ec);
    if (ec) {
        return {};
    }
    for (;;) {
        fs::path best;
        std::size_t bestRank = names.size();
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (!it->is_directory(typeError)) {
                continue;
            }
            const std::string name = lower(utf8(it->path().filename()));
            const auto found = std::find(names.begin(), names.end(), name);
            const auto rank = static_cast<std::size_t>(found - names.begin());
            if (rank < bestRank || (rank == bestRank && rank < names.size() && it->path() < best)) {
                best = it->path();
                bestRank = rank;
            }
        }
        if (!best.empty() || !upwards) {
            return best;
        }
        const fs::path parent = dir.parent_path();
        if (parent.empty() || parent == dir) {
            return {};
        }
        dir = parent;
    }
}

// ---------------------------------------------------------------------------------------------
// Markup

enum class Kind { Plain, Html, Flowed, Rich };

struct Segment {
    Kind kind;
    std::string_view text;
};

// "<x-html>" and friends at `pos`: the kind, whether it closes, and its length.
std::optional<std::tuple<Kind, bool, std::size_t>> pseudoTag(std::string_view text,
                                                             std::size_t pos) {
    static constexpr std::pair<std::string_view, Kind> kTags[] = {
        {"x-html>", Kind::Html}, {"x-flowed>", Kind::Flowed}, {"x-rich>", Kind::Rich}};
    std::size_t at = pos + 1;
    const bool closing = at < text.size() && text[at] == '/';
    at += closing ? 1 : 0;
    for (const auto& [name, kind] : kTags) {
        if (startsWithNoCase(text.substr(at), name)) {
            return std::tuple{kind, closing, at + name.size() - pos};
        }
    }
    return std::nullopt;
}

std::vector<Segment> segmentsOf(std::string_view text) {
    std::vector<Segment> out;
    Kind current = Kind::Plain;
    std::size_t start = 0;
    for (std::size_t pos = text.find('<'); pos != std::string_view::npos;
         pos = text.find('<', pos + 1)) {
        const auto tag = pseudoTag(text, pos);
        if (!tag) {
            continue;
        }
        const auto [kind, closing, length] = *tag;
        out.push_back({current, text.substr(start, pos - start)});
        current = closing ? Kind::Plain : kind;
        start = pos + length;
        pos = start - 1;
    }
    if (out.empty()) {
        return out;
    }
    out.push_back({current, text.substr(start)});
    return out;
}

// Eudora's own tags inside HTML ("<!x-stuff-for-pete ...>", "<x-sigsep>") are dropped.
std::string withoutPseudoTags(std::string_view html) {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t pos = html.find('<'); pos != std::string_view::npos;
         pos = html.find('<', pos + 1)) {
        const std::string_view rest = html.substr(pos + 1);
        if (!startsWithNoCase(rest, "x-") && !startsWithNoCase(rest, "/x-") &&
            !startsWithNoCase(rest, "!x-")) {
            continue;
        }
        const auto end = html.find('>', pos);
        if (end == std::string_view::npos) {
            break;
        }
        out.append(html.substr(copied, pos - copied));
        copied = end + 1;
        pos = end;
    }
    out.append(html.substr(copied));
    return out;
}

std::string_view trimLineEnds(std::string_view s) {
    while (!s.empty() && (s.front() == '\r' || s.front() == '\n')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

bool blank(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
    }
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// An HTML character reference at `pos` ('&'), appended to `out`; returns its length, or 0 when
// it is not one we know.
std::size_t entity(std::string_view html, std::size_t pos, std::string& out) {
    const auto semi = html.find(';', pos);
    if (semi == std::string_view::npos || semi - pos > 10) {
        return 0;
    }
    const std::string name = lower(html.substr(pos + 1, semi - pos - 1));
    static constexpr std::pair<std::string_view, std::uint32_t> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    for (const auto& [n, c] : kNamed) {
        if (name == n) {
            appendUtf8(out, c);
            return semi - pos + 1;
        }
    }
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const std::string digits = name.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 7 ||
            !std::all_of(digits.begin(), digits.end(), [hex](char c) {
                return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                           : (c >= '0' && c <= '9');
            })) {
            return 0;
        }
        appendUtf8(out, static_cast<std::uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10)));
        return semi - pos + 1;
    }
    return 0;
}

void newLine(std::string& out) {
    while (out.ends_with(' ')) {
        out.pop_back();
    }
    out += "\r\n";
}

void blockBreak(std::string& out) {
    if (!out.empty() && !out.ends_with("\r\n")) {
        newLine(out);
    }
}

} // namespace

Folders findFolders(const fs::path& mailbox, const fs::path& chosen) {
    Folders out;
    const fs::path start = mailbox.parent_path().empty() ? fs::path(".") : mailbox.parent_path();
    out.attachments =
        !chosen.empty()
            ? chosen
            : nearestFolder(start, {"attach", "attachments", "attachments folder"}, true);
    if (!out.attachments.empty()) {
        out.embedded =
            nearestFolder(fs::absolute(out.attachments).parent_path(), {"embedded"}, false);
    }
    if (out.embedded.empty()) {
        out.embedded = nearestFolder(start, {"embedded"}, true);
    }
    return out;
}

std::optional<std::string> normaliseLineEnds(std::string_view in) {
    if (!hasLoneCr(in)) {
        return std::nullopt;
    }
    std::vector<std::string> boundaries;
    bool binaryParts = false;
    for (const auto line : linesOf(in)) {
        binaryParts = binaryParts || isBinaryEncodingHeader(line);
    }
    if (binaryParts) {
        boundaries = boundariesIn(in);
    }
    std::string out;
    out.reserve(in.size() + in.size() / 32);
    bool inHeaders = true; // the message's own header block comes first
    bool binary = false;
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n;) {
        const std::size_t end = std::min(in.find_first_of("\r\n", i), n);
        const std::string_view line = in.substr(i, end - i);
        out.append(line);
        i = end;
        if (i < n && in[i] == '\n') {
            out.push_back('\n');
            ++i;
        } else if (i < n) {
            std::size_t j = i;
            while (j < n && in[j] == '\r') {
                ++j;
            }
            // A run of CRs before an LF is one line end; otherwise each CR is one.
            i = j < n && in[j] == '\n' ? j + 1 : i + 1;
            out += "\r\n";
        }
        if (!binaryParts) {
            continue;
        }
        if (inHeaders) {
            if (!line.empty()) {
                binary = binary || isBinaryEncodingHeader(line);
                continue;
            }
            inHeaders = false;
            if (binary) {
                binary = false;
                const auto [eol, next] = nextBoundary(in, i, boundaries);
                if (eol == std::string_view::npos) {
                    out.append(in.substr(i));
                    break;
                }
                out.append(in.substr(i, eol - i));
                out += "\r\n";
                i = next;
            }
        } else if (const int kind = boundaryKind(line, boundaries); kind != 0) {
            inHeaders = kind == 1;
        }
    }
    return out;
}

std::vector<DetachedFile> detachedFiles(std::string_view text) {
    static constexpr std::string_view kAttachment = "Attachment Converted:";
    static constexpr std::string_view kEmbedded = "Embedded Content:";
    std::vector<DetachedFile> out;
    for (const auto line : linesOf(text)) {
        DetachedFile f;
        std::string_view value;
        if (startsWithNoCase(line, kAttachment)) {
            value = trim(line.substr(kAttachment.size()));
            if (value.starts_with('"')) {
                const auto close = value.find('"', 1);
                value = value.substr(1, close == std::string_view::npos ? close : close - 1);
            } else {
                value = withoutMacSuffixes(value);
            }
        } else if (startsWithNoCase(line, kEmbedded)) {
            f.embedded = true;
            value = withoutNumbers(trim(line.substr(kEmbedded.size())));
        } else {
            continue;
        }
        f.line = std::string(trim(line));
        f.name = baseName(value);
        out.push_back(std::move(f));
    }
    return out;
}

std::optional<fs::path> lookUp(const fs::path& folder, std::string_view name) {
    if (!usableName(name) || folder.empty()) {
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path base = fs::canonical(folder, ec);
    if (ec) {
        return std::nullopt;
    }
    fs::path candidate = base / fromUtf8(name);
    if (!fs::exists(fs::symlink_status(candidate, ec))) {
        // Eudora ran on file systems that ignore case; the folder may have been copied to one
        // that does not.
        candidate.clear();
        const std::string wanted = lower(name);
        for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
            if (lower(utf8(it->path().filename())) == wanted) {
                candidate = it->path();
                break;
            }
        }
        if (candidate.empty()) {
            return std::nullopt;
        }
    }
    const fs::path real = fs::canonical(candidate, ec);
    if (ec || real.parent_path() != base || !fs::is_regular_file(real, ec) || ec) {
        return std::nullopt;
    }
    return real;
}

std::string mimeTypeForName(std::string_view name) {
    const std::string n(name);
    gboolean uncertain = FALSE;
    std::unique_ptr<gchar, decltype(&g_free)> type(
        g_content_type_guess(n.c_str(), nullptr, 0, &uncertain), &g_free);
    if (!type || uncertain) {
        return "application/octet-stream";
    }
    std::unique_ptr<gchar, decltype(&g_free)> mime(g_content_type_get_mime_type(type.get()),
                                                   &g_free);
    return mime ? lower(mime.get()) : "application/octet-stream";
}

std::optional<Bodies> renderMarkup(std::string_view text) {
    const std::vector<Segment> segments = segmentsOf(text);
    if (segments.empty()) {
        return std::nullopt;
    }
    Bodies out;
    int htmlSegments = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        switch (s.kind) {
        case Kind::Plain:
            // The line end after a closing pseudo-tag ends the tag's line.
            out.plain += i > 0 && s.text.starts_with("\r\n") ? s.text.substr(2) : s.text;
            break;
        case Kind::Flowed:
            out.plain += unwrapFlowed(trimLineEnds(s.text));
            break;
        case Kind::Html:
            ++htmlSegments;
            out.plain += htmlToText(withoutPseudoTags(s.text));
            break;
        case Kind::Rich:
            ++htmlSegments;
            out.plain += htmlToText(enrichedToHtml(trimLineEnds(s.text)));
            break;
        }
        if (s.kind != Kind::Plain && !out.plain.ends_with("\r\n")) {
            out.plain += "\r\n";
        }
    }
    if (htmlSegments == 0) {
        return out;
    }
    // The HTML body: an HTML document Eudora kept is used as it stands, with the text around it
    // (attachment lines among it) shown after its content.
    std::string before;
    std::string after;
    std::string document;
    for (const auto& s : segments) {
        std::string& target = htmlSegments == 1 && !document.empty() ? after : before;
        if (s.kind == Kind::Html && htmlSegments == 1) {
            document = withoutPseudoTags(trimLineEnds(s.text));
            continue;
        }
        if (blank(s.text)) {
            continue;
        }
        switch (s.kind) {
        case Kind::Plain:
            target += textToHtml(trimLineEnds(s.text));
            break;
        case Kind::Flowed:
            target += textToHtml(unwrapFlowed(trimLineEnds(s.text)));
            break;
        case Kind::Html:
            target += withoutPseudoTags(s.text);
            break;
        case Kind::Rich:
            target += "<div>" + enrichedToHtml(trimLineEnds(s.text)) + "</div>\r\n";
            break;
        }
    }
    if (document.empty()) {
        out.html = "<html><body>\r\n" + before + "</body></html>\r\n";
        return out;
    }
    // The document is now UTF-8, whatever charset its <meta> names.
    std::string low = lower(document);
    for (auto meta = low.find("<meta"); meta != std::string::npos;
         meta = low.find("<meta", meta + 5)) {
        const auto end = low.find('>', meta);
        const auto at = low.find("charset=", meta);
        if (end == std::string::npos || at == std::string::npos || at > end) {
            continue;
        }
        const bool quoted = low[at + 8] == '"' || low[at + 8] == '\'';
        auto valueEnd = at + 8 + (quoted ? 1 : 0);
        while (valueEnd < end && (std::isalnum(static_cast<unsigned char>(low[valueEnd])) != 0 ||
                                  low[valueEnd] == '-' || low[valueEnd] == '_')) {
            ++valueEnd;
        }
        const std::string value = quoted ? low.substr(at + 8, 1) + "utf-8" : std::string("utf-8");
        document.replace(at + 8, valueEnd - at - 8, value);
        low = lower(document);
    }
    const auto bodyOpen = low.find("<body");
    std::size_t insertAt = 0;
    if (bodyOpen != std::string::npos) {
        const auto bodyEnd = low.find('>', bodyOpen);
        insertAt = bodyEnd == std::string::npos ? document.size() : bodyEnd + 1;
    }
    document.insert(insertAt, before);
    const auto bodyClose = lower(document).rfind("</body");
    document.insert(bodyClose == std::string::npos ? document.size() : bodyClose, after);
    out.html = std::move(document);
    return out;
}

std::string unwrapFlowed(std::string_view text) {
    std::string out;
    std::string paragraph;
    std::size_t depth = 0;
    bool open = false; // the paragraph continues on the next line
    auto flush = [&] {
        out.append(depth, '>');
        if (depth > 0) {
            out.push_back(' ');
        }
        out += paragraph;
        out += "\r\n";
        paragraph.clear();
        open = false;
    };
    for (std::string_view line : linesOf(text)) {
        std::size_t quotes = 0;
        while (quotes < line.size() && line[quotes] == '>') {
            ++quotes;
        }
        line.remove_prefix(quotes);
        if (line.starts_with(' ')) {
            line.remove_prefix(1); // space-stuffing
        }
        if (open && quotes != depth) {
            flush(); // a change of quote depth ends a paragraph
        }
        depth = quotes;
        paragraph += line;
        open = line.ends_with(' ') && line != "-- ";
        if (!open) {
            flush();
        }
    }
    if (open) {
        flush();
    }
    if (!text.ends_with('\n') && !text.ends_with('\r') && out.ends_with("\r\n")) {
        out.resize(out.size() - 2);
    }
    return out;
}

std::string enrichedToHtml(std::string_view text) {
    struct Mapping {
        std::string_view command;
        std::string_view open;
        std::string_view close;
    };
    static constexpr Mapping kMappings[] = {
        {"bold", "<b>", "</b>"},
        {"italic", "<i>", "</i>"},
        {"underline", "<u>", "</u>"},
        {"fixed", "<tt>", "</tt>"},
        {"smaller", "<small>", "</small>"},
        {"bigger", "<big>", "</big>"},
        {"center", "<div align=\"center\">", "</div>"},
        {"flushleft", "<div align=\"left\">", "</div>"},
        {"flushright", "<div align=\"right\">", "</div>"},
        {"flushboth", "<div align=\"justify\">", "</div>"},
        {"indent", "<div style=\"margin-left:2em\">", "</div>"},
        {"indentright", "<div style=\"margin-right:2em\">", "</div>"},
        {"excerpt", "<blockquote>", "</blockquote>"},
        {"color", "<span style=\"color:%\">", "</span>"},
        {"fontfamily", "<span style=\"font-family:%\">", "</span>"},
    };
    std::string out;
    std::vector<std::string> open; // commands opened and not yet closed, innermost last
    int nofill = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const char c = text[i];
        if (c == '<' && i + 1 < n && text[i + 1] == '<') {
            out += "&lt;";
            i += 2;
            continue;
        }
        if (c == '<') {
            const auto close = text.find('>', i);
            if (close == std::string_view::npos) {
                appendEscaped(out, text.substr(i));
                break;
            }
            std::string_view tag = text.substr(i + 1, close - i - 1);
            i = close + 1;
            const bool ending = tag.starts_with('/');
            const std::string name = lower(ending ? tag.substr(1) : tag);
            if (name == "param") {
                // A parameter not taken by its command is not shown.
                const auto end = lower(text.substr(i)).find("</param>");
                i = end == std::string::npos ? n : i + end + 8;
                continue;
            }
            if (name == "nofill") {
                nofill += ending ? (nofill > 0 ? -1 : 0) : 1;
                continue;
            }
            const auto m = std::find_if(std::begin(kMappings), std::end(kMappings),
                                        [&](const Mapping& x) { return x.command == name; });
            if (m == std::end(kMappings)) {
                continue; // unknown commands are ignored, their text is shown
            }
            if (ending) {
                const auto at = std::find(open.rbegin(), open.rend(), name);
                if (at != open.rend()) {
                    open.erase(std::next(at).base());
                    out += m->close;
                }
                continue;
            }
            std::string opening(m->open);
            if (const auto slot = opening.find('%'); slot != std::string::npos) {
                // The value comes from the <param> that follows; only plain names and colour
                // numbers are taken, so nothing can leave the style attribute.
                std::string value;
                if (startsWithNoCase(text.substr(i), "<param>")) {
                    const auto end = lower(text.substr(i)).find("</param>");
                    const std::string_view raw =
                        text.substr(i + 7, end == std::string::npos ? 0 : end - 7);
                    i = end == std::string::npos ? i : i + end + 8;
                    const auto parts = std::count(raw.begin(), raw.end(), ',');
                    for (const char ch : raw) {
                        if (std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == ' ' ||
                            ch == '-' || ch == ',') {
                            value.push_back(ch);
                        }
                    }
                    if (parts == 2 && name == "color") {
                        // "rrrr,gggg,bbbb": 16-bit components.
                        std::string rgb = "#";
                        std::size_t from = 0;
                        for (int k = 0; k < 3; ++k) {
                            const auto comma = value.find(',', from);
                            const std::string part(trim(std::string_view(value).substr(
                                from,
                                comma == std::string::npos ? std::string::npos : comma - from)));
                            rgb += (isHex(part) ? part + "00" : std::string("00")).substr(0, 2);
                            from = comma == std::string::npos ? value.size() : comma + 1;
                        }
                        value = rgb;
                    }
                }
                if (value.empty()) {
                    continue;
                }
                opening.replace(slot, 1, value);
            }
            out += opening;
            open.push_back(name);
            continue;
        }
        if (c == '\r' || c == '\n') {
            // Outside nofill, one line end is a space and n line ends are n-1 line breaks.
            std::size_t breaks = 0;
            while (i < n && (text[i] == '\r' || text[i] == '\n')) {
                if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') {
                    ++i;
                }
                ++i;
                ++breaks;
            }
            if (nofill > 0) {
                for (std::size_t k = 0; k < breaks; ++k) {
                    out += "<br>\r\n";
                }
            } else if (breaks == 1) {
                out += ' ';
            } else {
                for (std::size_t k = 1; k < breaks; ++k) {
                    out += "<br>\r\n";
                }
            }
            continue;
        }
        appendEscaped(out, std::string_view(&text[i], 1));
        ++i;
    }
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        const auto m = std::find_if(std::begin(kMappings), std::end(kMappings),
                                    [&](const Mapping& x) { return x.command == *it; });
        out += m->close;
    }
    return out;
}

std::vector<FoundFile> resolveDetached(std::string_view text, std::string_view html,
                                       const std::vector<std::string>& knownContentIds,
                                       const Folders& folders, std::vector<std::string>& notes) {
    std::vector<FoundFile> out;
    std::vector<std::size_t> pictures; // embedded pictures in `out`, in the text's order
    for (const auto& f : detachedFiles(text)) {
        const fs::path& folder = f.embedded ? folders.embedded : folders.attachments;
        const char* what = f.embedded ? "embedded picture" : "attachment";
        if (f.name.empty()) {
            notes.push_back(std::string(what) + " not taken, no usable file name: " + f.line);
            continue;
        }
        if (folder.empty()) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" not found: no " +
                            (f.embedded ? "Embedded" : "attachments") + " folder");
            continue;
        }
        const auto path = lookUp(folder, f.name);
        std::error_code ec;
        const auto size = path ? fs::file_size(*path, ec) : 0;
        if (!path || ec) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" not found in " + utf8(folder));
            continue;
        }
        if (size > kLargestFile) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" not taken: larger than 2 GB");
            continue;
        }
        FoundFile found;
        found.name = utf8(path->filename());
        found.data.resize(static_cast<std::size_t>(size));
        std::ifstream file(*path, std::ios::binary);
        if (!file.read(reinterpret_cast<char*>(found.data.data()),
                       static_cast<std::streamsize>(found.data.size()))) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" could not be read");
            continue;
        }
        found.mimeType = mimeTypeForName(found.name);
        if (f.embedded) {
            pictures.push_back(out.size());
        }
        out.push_back(std::move(found));
    }
    if (pictures.empty() || html.empty()) {
        return out;
    }
    // Pictures are linked to the cid: references no part of the message answers: by name where
    // the reference starts with the file's name, otherwise in order when the counts agree.
    std::vector<std::string> cids;
    const std::string low = lower(html);
    for (std::size_t at = low.find("cid:"); at != std::string::npos;
         at = low.find("cid:", at + 4)) {
        const auto end = html.find_first_of("\"' >\r\n", at + 4);
        std::string cid(html.substr(at + 4, end == std::string_view::npos ? end : end - at - 4));
        if (!cid.empty() && std::find(cids.begin(), cids.end(), cid) == cids.end() &&
            std::find(knownContentIds.begin(), knownContentIds.end(), cid) ==
                knownContentIds.end()) {
            cids.push_back(std::move(cid));
        }
    }
    std::vector<std::size_t> unlinked;
    for (const std::size_t k : pictures) {
        const std::string name = lower(out[k].name);
        const auto byName = std::find_if(cids.begin(), cids.end(), [&](const std::string& cid) {
            return lower(cid).starts_with(name);
        });
        if (byName != cids.end()) {
            out[k].contentId = *byName;
            cids.erase(byName);
        } else {
            unlinked.push_back(k);
        }
    }
    if (unlinked.size() == cids.size()) {
        for (std::size_t i = 0; i < unlinked.size(); ++i) {
            out[unlinked[i]].contentId = cids[i];
        }
    }
    return out;
}

std::string htmlToText(std::string_view html) {
    static constexpr std::string_view kSkipped[] = {"head", "style", "script", "title"};
    static constexpr std::string_view kBlocks[] = {"p",  "div", "tr", "table", "blockquote", "pre",
                                                   "h1", "h2",  "h3", "h4",    "h5",         "h6",
                                                   "ul", "ol",  "hr", "dl",    "dt",         "dd"};
    std::string out;
    int pre = 0;
    const std::size_t n = html.size();
    for (std::size_t i = 0; i < n;) {
        const char c = html[i];
        if (c == '<') {
            if (html.substr(i).starts_with("<!--")) {
                const auto end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? n : end + 3;
                continue;
            }
            const auto close = html.find('>', i);
            if (close == std::string_view::npos) {
                break;
            }
            std::string_view tag = html.substr(i + 1, close - i - 1);
            i = close + 1;
            const bool ending = tag.starts_with('/');
            tag.remove_prefix(ending ? 1 : 0);
            const std::string name =
                lower(tag.substr(0, std::min(tag.find_first_of(" \t\r\n/"), tag.size())));
            if (!ending &&
                std::find(std::begin(kSkipped), std::end(kSkipped), name) != std::end(kSkipped)) {
                const auto end = lower(html.substr(i)).find("</" + name);
                i = end == std::string::npos ? n : i + end;
                continue;
            }
            if (name == "br") {
                newLine(out);
            } else if (name == "li" && !ending) {
                blockBreak(out);
                out += "- ";
            } else if (std::find(std::begin(kBlocks), std::end(kBlocks), name) !=
                       std::end(kBlocks)) {
                blockBreak(out);
                if (name == "pre") {
                    pre += ending ? (pre > 0 ? -1 : 0) : 1;
                }
            }
            continue;
        }
        if (c == '&') {
            if (const std::size_t length = entity(html, i, out); length > 0) {
                i += length;
                continue;
            }
        }
        if (pre == 0 && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
            if (!out.empty() && !out.ends_with(' ') && !out.ends_with('\n')) {
                out.push_back(' ');
            }
            ++i;
            continue;
        }
        if (pre > 0 && (c == '\r' || c == '\n')) {
            if (c == '\r' && i + 1 < n && html[i + 1] == '\n') {
                ++i;
            }
            newLine(out);
            ++i;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    // No run of more than one empty line, none at the ends.
    std::string tidy;
    for (const auto line : linesOf(out)) {
        const std::string_view t = trim(line);
        if (t.empty() && (tidy.empty() || tidy.ends_with("\r\n\r\n"))) {
            continue;
        }
        tidy += t;
        tidy += "\r\n";
    }
    while (tidy.ends_with("\r\n\r\n")) {
        tidy.resize(tidy.size() - 2);
    }
    return tidy;
}

} // namespace mbx::mime::eudora
