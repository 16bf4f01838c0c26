#include "mailstore/mapi/text.h"
#include "mailstore/mime/common.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/eudora_text.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>

namespace mbx::mime::eudora {

using namespace text;
using detail::findNoCase;
using detail::startsWithNoCase;
using detail::toLower;
using detail::trim;

namespace {

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

// An HTML character reference at `pos` ('&'), appended to `out`; returns its length, or 0 when
// it is not one we know.
std::size_t entity(std::string_view html, std::size_t pos, std::string& out) {
    const auto semi = html.substr(0, pos + 12).find(';', pos);
    if (semi == std::string_view::npos) {
        return 0;
    }
    const std::string name = toLower(html.substr(pos + 1, semi - pos - 1));
    static constexpr std::pair<std::string_view, char32_t> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    for (const auto& [n, c] : kNamed) {
        if (name == n) {
            mapi::appendUtf8(out, c);
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
        auto c = static_cast<char32_t>(std::stoul(digits, nullptr, hex ? 16 : 10));
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD; // no character the model could hold
        }
        mapi::appendUtf8(out, c);
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

// The document with every charset its <meta> tags name replaced by UTF-8, as its text now is.
std::string withUtf8Charset(std::string_view document) {
    const std::string low = toLower(document);
    std::string out;
    std::size_t copied = 0;
    for (std::size_t meta = low.find("<meta"); meta != std::string::npos;) {
        const auto end = low.find('>', meta);
        if (end == std::string::npos) {
            break;
        }
        const std::size_t next = low.find("<meta", end);
        const auto inTag = std::string_view(low).substr(meta, end - meta).find("charset=");
        if (inTag == std::string_view::npos) {
            meta = next;
            continue;
        }
        const std::size_t at = meta + inTag;
        auto valueEnd = at + 8;
        if (low[valueEnd] == '"' || low[valueEnd] == '\'') {
            ++valueEnd; // the opening quote stays
        }
        const std::size_t valueStart = valueEnd;
        while (valueEnd < end && (std::isalnum(static_cast<unsigned char>(low[valueEnd])) != 0 ||
                                  low[valueEnd] == '-' || low[valueEnd] == '_')) {
            ++valueEnd;
        }
        out.append(document.substr(copied, valueStart - copied));
        out += "utf-8";
        copied = valueEnd;
        meta = next;
    }
    out.append(document.substr(copied));
    return out;
}

} // namespace

std::optional<std::string> withoutXHtml(std::string_view html) {
    if (findNoCase(html, "<x-html>") == std::string_view::npos &&
        findNoCase(html, "</x-html>") == std::string_view::npos) {
        return std::nullopt;
    }
    return withoutPseudoTags(html);
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
    // (attachment lines among it) before and after its content.
    std::string before;
    std::string after;
    std::string document;
    for (const auto& s : segments) {
        std::string& target = htmlSegments == 1 && !document.empty() ? after : before;
        if (s.kind == Kind::Html && htmlSegments == 1) {
            document = std::string(trimLineEnds(withoutPseudoTags(s.text)));
            continue;
        }
        if (blank(s.text)) {
            continue;
        }
        switch (s.kind) {
        case Kind::Plain:
            target += "<div>" + textToHtml(trimLineEnds(s.text)) + "</div>\r\n";
            break;
        case Kind::Flowed:
            target += "<div>" + textToHtml(unwrapFlowed(trimLineEnds(s.text))) + "</div>\r\n";
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
    document = withUtf8Charset(document);
    const std::string low = toLower(document);
    const auto bodyOpen = low.find("<body");
    std::size_t insertAt = 0;
    if (bodyOpen != std::string::npos) {
        const auto bodyEnd = low.find('>', bodyOpen);
        insertAt = bodyEnd == std::string::npos ? document.size() : bodyEnd + 1;
    }
    document.insert(insertAt, before);
    const auto bodyClose = toLower(document).rfind("</body");
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
            const std::string name = toLower(ending ? tag.substr(1) : tag);
            if (name == "param") {
                // A parameter not taken by its command is not shown.
                const auto end = findNoCase(text.substr(i), "</param>");
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
                // Commands nest; a closing one that does not match the innermost is ignored.
                if (!open.empty() && open.back() == name) {
                    open.pop_back();
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
                    const auto end = findNoCase(text.substr(i), "</param>");
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
                toLower(tag.substr(0, std::min(tag.find_first_of(" \t\r\n/"), tag.size())));
            if (!ending &&
                std::find(std::begin(kSkipped), std::end(kSkipped), name) != std::end(kSkipped)) {
                const auto end = findNoCase(html.substr(i), "</" + name);
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
