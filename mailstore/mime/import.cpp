#include "mailstore/mime/import.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/gmime_init.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gmime/gmime.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace mbx::mime {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

namespace {

using detail::ensureGMime;

struct GObjectUnref {
    void operator()(gpointer p) const {
        if (p != nullptr) {
            g_object_unref(p);
        }
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GString8 = std::unique_ptr<char, GFree>;

struct OptionsFree {
    void operator()(GMimeParserOptions* p) const { g_mime_parser_options_free(p); }
};

std::string toLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return out;
}

std::string toUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        }
    }
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// Line ends as Windows programs expect them in PidTagBody and the transport headers; NUL
// characters replaced so that no reader takes them for the end of the text.
std::string toCrlf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 32 + 2);
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        // Runs of ordinary text are copied whole; every byte that needs care is at most CR.
        const std::size_t start = i;
        while (i<n&& static_cast<unsigned char>(s[i])> '\r') {
            ++i;
        }
        out.append(s.data() + start, i - start);
        if (i == n) {
            break;
        }
        const char c = s[i++];
        if (c == '\r') {
            out += "\r\n";
            if (i < n && s[i] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out += "\r\n";
        } else if (c == '\0') {
            out += "\xEF\xBF\xBD"; // U+FFFD: readers cut MAPI strings at a NUL
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The one way the import stores text, so every string in the model is valid UTF-8: anything
// else is bare 8-bit text and read as such. Empty strings are left out: several readers,
// Outlook among them, reject them.
void setString(PropertyBag& bag, mapi::PropTag tag, std::string_view value) {
    if (!value.empty()) {
        bag.set(tag, decodeUnlabelled(value));
    }
}

const char* cstr(const char* s) {
    return s != nullptr ? s : "";
}

// Text as GMime decoded it, made valid UTF-8. GMime passes on bytes it could not convert: RFC
// 2231 values in an unknown or empty charset, and header bytes shaped like UTF-8 beyond U+10FFFF
// that its 8-bit fallback accepts as UTF-8. Such text is bare 8-bit text to us.
std::string text(const char* s) {
    return decodeUnlabelled(cstr(s));
}

// ---------------------------------------------------------------------------------------------
// Raw input handling

struct Split {
    std::string_view separator; // the mailbox separator line without its line end, or empty
    std::string_view content;   // everything after it: headers and body
    std::string_view headers;   // the header block including its line ends, or empty
    std::string_view body;      // after the blank line that ends the header block
};

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
    std::vector<std::size_t> inserts;
    bool inHeaders = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t eol = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, eol - pos);
        const std::size_t next = eol + 1;
        if (!inHeaders) {
            inHeaders = isBoundary(line) && !trim(line).ends_with("--");
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
                inserts.push_back(pos);
            }
            inHeaders = false;
        }
        pos = next;
    }
    if (inserts.empty()) {
        return std::nullopt;
    }
    const std::string_view eolStyle = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::string out;
    out.reserve(text.size() + inserts.size() * 2);
    std::size_t from = 0;
    for (const std::size_t at : inserts) {
        out.append(text.substr(from, at - from));
        out.append(eolStyle);
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

// ---------------------------------------------------------------------------------------------
// Addresses and entry ids

void appendUtf16z(Bytes& out, std::string_view utf8) {
    const Bytes b = mapi::utf16leBytes(utf8);
    out.insert(out.end(), b.begin(), b.end());
    out.push_back(0);
    out.push_back(0);
}

// One-off entry id ([MS-OXCDATA] 2.2.5.1) with Unicode strings, as Outlook writes it for SMTP
// addresses that are not in an address book.
Bytes oneOffEntryId(std::string_view name, std::string_view address) {
    static constexpr std::uint8_t kHead[] = {0x00, 0x00, 0x00, 0x00, 0x81, 0x2B, 0x1F, 0xA4,
                                             0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD,
                                             0x01, 0x0F, 0x54, 0x02, 0x00, 0x00, 0x01, 0x80};
    Bytes out(std::begin(kHead), std::end(kHead));
    appendUtf16z(out, name);
    appendUtf16z(out, "SMTP");
    appendUtf16z(out, address);
    return out;
}

Bytes searchKey(std::string_view address) {
    const std::string key = "SMTP:" + toUpper(address);
    Bytes out(key.begin(), key.end());
    out.push_back(0);
    return out;
}

struct Mailbox {
    std::string name;    // display name, else the address
    std::string address; // may be empty for broken addresses such as "<>"
};

// Groups are flattened into their members. Walked with an explicit stack: damaged headers can
// nest groups thousands deep.
void collectMailboxes(InternetAddressList* top, std::vector<Mailbox>& out) {
    std::vector<std::pair<InternetAddressList*, int>> stack;
    if (top != nullptr) {
        stack.emplace_back(top, 0);
    }
    while (!stack.empty()) {
        auto& [list, index] = stack.back();
        if (index >= internet_address_list_length(list)) {
            stack.pop_back();
            continue;
        }
        InternetAddress* ia = internet_address_list_get_address(list, index++);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            if (auto* members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia))) {
                stack.emplace_back(members, 0);
            }
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            continue;
        }
        Mailbox m;
        m.address = std::string(
            trim(text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)))));
        m.name = std::string(trim(text(internet_address_get_name(ia))));
        if (m.name.empty()) {
            m.name = m.address;
        }
        if (!m.name.empty() || !m.address.empty()) {
            out.push_back(std::move(m));
        }
    }
}

std::vector<Mailbox> mailboxes(GMimeMessage* msg, GMimeAddressType type) {
    std::vector<Mailbox> out;
    collectMailboxes(g_mime_message_get_addresses(msg, type), out);
    // A header that is one bare address without any punctuation around it is taken as it
    // stands: GMime cuts odd forms such as "host!user@relay@domain" at the second '@'.
    static constexpr const char* kNames[] = {"Sender", "From", "Reply-To", "To", "Cc", "Bcc"};
    const char* name = kNames[static_cast<int>(type) - static_cast<int>(GMIME_ADDRESS_TYPE_SENDER)];
    const std::string rawText = text(g_mime_object_get_header(GMIME_OBJECT(msg), name));
    const std::string_view raw = trim(rawText);
    if (out.size() == 1 && !raw.empty() &&
        raw.find_first_of(" \t<>,;:\"()") == std::string_view::npos && raw != out[0].address &&
        raw.find(out[0].address) != std::string_view::npos) {
        out[0].address = std::string(raw);
        out[0].name = std::string(raw);
    }
    return out;
}

void setSender(PropertyBag& bag, const Mailbox& m, bool representing) {
    using namespace tags;
    setString(bag, representing ? SentRepresentingName : SenderName, m.name);
    if (m.address.empty()) {
        return;
    }
    setString(bag, representing ? SentRepresentingAddressType : SenderAddressType, "SMTP");
    setString(bag, representing ? SentRepresentingEmailAddress : SenderEmailAddress, m.address);
    setString(bag, representing ? SentRepresentingSmtpAddress : SenderSmtpAddress, m.address);
    bag.set(representing ? SentRepresentingEntryId : SenderEntryId,
            oneOffEntryId(m.name, m.address));
    bag.set(representing ? SentRepresentingSearchKey : SenderSearchKey, searchKey(m.address));
}

// ---------------------------------------------------------------------------------------------
// Header values

// [MS-OXCMAIL] 2.2.3.2.6.1: one to three characters other than colon, space or digit, then a
// colon, form the prefix ("RE: ", "Fwd: "); the normalized subject follows the spaces after it.
void setSubject(PropertyBag& bag, std::string_view subject) {
    setString(bag, tags::Subject, subject);
    std::string_view normalized = subject;
    const auto colon = subject.find(':');
    if (colon != std::string_view::npos && colon >= 1 && colon <= 3) {
        const std::string_view head = subject.substr(0, colon);
        const bool ok = std::none_of(head.begin(), head.end(), [](char c) {
            return c == ' ' || c == '\t' || (c >= '0' && c <= '9');
        });
        // Count characters, not bytes: "Äw:" is a three-character prefix.
        const auto chars = std::count_if(head.begin(), head.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        });
        if (ok && chars <= 3) {
            setString(bag, tags::SubjectPrefix, std::string(head) + ": ");
            normalized = subject.substr(colon + 1);
            while (!normalized.empty() && normalized.front() == ' ') {
                normalized.remove_prefix(1);
            }
        }
    }
    setString(bag, tags::NormalizedSubject, normalized);
    setString(bag, tags::ConversationTopic, normalized);
}

std::optional<mapi::FileTime> parseDate(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    // Zone names come in lower case too ("12:24:23 cst"); GMime only knows them in upper case.
    std::string date(trim(text));
    const auto space = date.find_last_of(" \t");
    if (space != std::string::npos &&
        std::all_of(date.begin() + static_cast<std::ptrdiff_t>(space) + 1, date.end(),
                    [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; })) {
        std::transform(date.begin() + static_cast<std::ptrdiff_t>(space) + 1, date.end(),
                       date.begin() + static_cast<std::ptrdiff_t>(space) + 1, [](char c) {
                           return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                       });
    }
    GDateTime* dt = g_mime_utils_header_decode_date(date.c_str());
    if (dt == nullptr) {
        return std::nullopt;
    }
    const auto t = mapi::FileTime::fromUnixSeconds(g_date_time_to_unix(dt));
    g_date_time_unref(dt);
    return t;
}

// Newest Received header = the first one in the block; its date follows the last ';'.
std::optional<mapi::FileTime> receivedDate(GMimeObject* obj) {
    GMimeHeaderList* list = g_mime_object_get_header_list(obj);
    const int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(h), "Received") != 0) {
            continue;
        }
        const std::string_view value = cstr(g_mime_header_get_value(h));
        const auto semi = value.rfind(';');
        if (semi == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string date(trim(value.substr(semi + 1)));
        return parseDate(date.c_str());
    }
    return std::nullopt;
}

// "Tue May 10 15:27:03 2005" as the separator line carries it; used only when the message has
// neither a Date nor a Received header.
std::optional<mapi::FileTime> separatorDate(std::string_view separator) {
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Find "Mon DD HH:MM:SS YYYY" anywhere in the line.
    for (std::size_t m = 0; m < 12; ++m) {
        auto pos = separator.find(kMonths[m]);
        if (pos == std::string_view::npos) {
            continue;
        }
        const std::string tail(separator.substr(pos + 3));
        int day = 0, hh = 0, mm = 0, ss = 0, year = 0;
        if (std::sscanf(tail.c_str(), " %d %d:%d:%d %d", &day, &hh, &mm, &ss, &year) == 5 &&
            year > 1900) {
            GDateTime* dt = g_date_time_new_utc(year, static_cast<int>(m) + 1, day, hh, mm, ss);
            if (dt == nullptr) {
                return std::nullopt;
            }
            const auto t = mapi::FileTime::fromUnixSeconds(g_date_time_to_unix(dt));
            g_date_time_unref(dt);
            return t;
        }
    }
    return std::nullopt;
}

std::string headerValue(GMimeObject* obj, const char* name) {
    return std::string(trim(text(g_mime_object_get_header(obj, name))));
}

std::int32_t importanceOf(GMimeObject* obj) {
    const std::string imp = toLower(headerValue(obj, "Importance"));
    if (imp == "low") {
        return 0;
    }
    if (imp == "high") {
        return 2;
    }
    if (imp == "normal") {
        return 1;
    }
    const std::string xp = headerValue(obj, "X-Priority");
    if (!xp.empty() && xp[0] >= '1' && xp[0] <= '5') {
        const int p = xp[0] - '0';
        return p <= 2 ? 2 : (p == 3 ? 1 : 0);
    }
    const std::string ms = toLower(headerValue(obj, "X-MSMail-Priority"));
    if (ms == "high") {
        return 2;
    }
    if (ms == "low") {
        return 0;
    }
    return 1;
}

std::int32_t priorityOf(GMimeObject* obj) {
    const std::string p = toLower(headerValue(obj, "Priority"));
    if (p == "urgent") {
        return 1;
    }
    if (p == "non-urgent") {
        return -1;
    }
    return 0;
}

std::int32_t sensitivityOf(GMimeObject* obj) {
    const std::string s = toLower(headerValue(obj, "Sensitivity"));
    if (s == "personal") {
        return 1;
    }
    if (s == "private") {
        return 2;
    }
    if (s == "company-confidential") {
        return 3;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Content

std::string mimeTypeOf(GMimeObject* obj) {
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    if (ct == nullptr) {
        return "text/plain";
    }
    GString8 t(g_mime_content_type_get_mime_type(ct));
    return toLower(cstr(t.get()));
}

bool isType(GMimeObject* obj, const char* type, const char* subtype) {
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    return ct != nullptr && g_mime_content_type_is_type(ct, type, subtype);
}

bool dispositionIsAttachment(GMimeObject* obj) {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(obj);
    return d != nullptr && g_mime_content_disposition_is_attachment(d);
}

// The part's content with its transfer encoding (base64, quoted-printable, uuencode) undone.
template <typename Out> Out decodedAs(GMimePart* part) {
    GMimeDataWrapper* w = g_mime_part_get_content(part);
    if (w == nullptr) {
        return {};
    }
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(w, mem.get());
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    const auto* data = reinterpret_cast<const char*>(arr->data);
    return Out(data, data + arr->len);
}
std::string decodedContent(GMimePart* part) {
    return decodedAs<std::string>(part);
}

std::string serialized(GMimeObject* obj) {
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(obj, nullptr, mem.get());
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::string(reinterpret_cast<const char*>(arr->data), arr->len);
}

std::string sanitizeFilename(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : trim(name)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || std::strchr("/\\:*?\"<>|", c) != nullptr) {
            out.push_back('_');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The 8.3 form Outlook keeps beside the long name (PidTagAttachFilename).
std::string shortFilename(std::string_view longName) {
    const auto dot = longName.rfind('.');
    const std::string_view base = longName.substr(0, dot);
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view{} : longName.substr(dot + 1);
    auto clean = [](std::string_view s) {
        std::string out;
        for (const char c : s) {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 0x80 || std::strchr(" .'*?", c) != nullptr) {
                continue;
            }
            out.push_back(std::strchr("+,=[];", c) != nullptr ? '_' : c);
        }
        return toUpper(out);
    };
    std::string b = clean(base);
    std::string e = clean(ext).substr(0, 3);
    if (b.size() > 8) {
        b = b.substr(0, 6) + "~1";
    }
    if (b.empty()) {
        return {};
    }
    return e.empty() ? b : b + "." + e;
}

std::string extensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) {
        return {};
    }
    return std::string(name.substr(dot));
}

bool isInlineImageType(std::string_view mime) {
    static constexpr std::string_view kTypes[] = {"image/jpeg", "image/jpg", "image/pjpeg",
                                                  "image/gif",  "image/bmp", "image/png",
                                                  "image/x-png"};
    return std::find(std::begin(kTypes), std::end(kTypes), mime) != std::end(kTypes);
}

// The charset an HTML document names for itself (<meta charset=...> or the http-equiv form),
// looked for near its start only.
std::string metaCharset(std::string_view html) {
    const std::string head = toLower(html.substr(0, 2048));
    const auto at = head.find("charset=");
    if (at == std::string::npos || head.rfind("<meta", at) == std::string::npos) {
        return {};
    }
    std::size_t begin = at + 8;
    while (begin < head.size() && (head[begin] == '"' || head[begin] == '\'')) {
        ++begin;
    }
    std::size_t end = begin;
    while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) != 0 ||
                                 head[end] == '-' || head[end] == '_' || head[end] == ':')) {
        ++end;
    }
    return head.substr(begin, end - begin);
}

class Importer {
public:
    void fill(Message& out, GMimeMessage* msg, std::string_view rawHeaders,
              std::string_view rawBody, std::string_view separator, bool topLevel);

private:
    struct Body {
        std::optional<std::string> plain; // UTF-8
        std::optional<std::string> html;  // the part's own bytes
        std::optional<std::int32_t> htmlCodePage;
        std::optional<std::int32_t> plainCodePage;
    };

    void content(GMimeObject* obj, Body& body, Message& out);
    bool takeBody(GMimeObject* obj, Body& body, Message& out);
    void takeRelated(GMimeMultipart* related, Body& body, Message& out);
    void attachTree(GMimeObject* obj, bool inRelated, Message& out);
    void attach(GMimeObject* obj, bool inRelated, Message& out);
    bool setText(GMimePart* part, Body& body);
};

bool Importer::setText(GMimePart* part, Body& body) {
    auto* obj = GMIME_OBJECT(part);
    const bool html = isType(obj, "text", "html");
    if (!html && !isType(obj, "text", "plain")) {
        return false;
    }
    if ((html && body.html) || (!html && body.plain)) {
        return false;
    }
    const std::string raw = decodedContent(part);
    std::string charset = cstr(g_mime_object_get_content_type_parameter(obj, "charset"));
    if (html && charset.empty()) {
        charset = metaCharset(raw);
    }
    if (html) {
        // PidTagHtml keeps the bytes and PidTagInternetCodepage names their charset; text in an
        // unknown charset is turned into UTF-8 so that the code page can be stated truthfully.
        if (auto cp = codePageOf(charset); cp && decodeCharset(raw, charset)) {
            body.html = raw;
            body.htmlCodePage = *cp;
        } else if (charset.empty() && !isUtf8(raw)) {
            body.html = raw;
            body.htmlCodePage = 1252;
        } else {
            body.html = decodeText(raw, charset);
            body.htmlCodePage = 65001;
        }
    } else {
        body.plain = toCrlf(decodeText(raw, charset));
        if (auto cp = codePageOf(charset)) {
            body.plainCodePage = *cp;
        } else {
            body.plainCodePage = isUtf8(raw) ? 65001 : 1252;
        }
    }
    return true;
}

// A body candidate: a text/plain or text/html part, an alternative or a related group
// ([MS-OXCMAIL] 2.2.3.3.2). Parts marked as attachments never are.
bool Importer::takeBody(GMimeObject* obj, Body& body, Message& out) {
    if (dispositionIsAttachment(obj)) {
        return false;
    }
    if (GMIME_IS_PART(obj)) {
        return setText(GMIME_PART(obj), body);
    }
    if (!GMIME_IS_MULTIPART(obj)) {
        return false;
    }
    auto* mp = GMIME_MULTIPART(obj);
    if (isType(obj, "multipart", "related")) {
        takeRelated(mp, body, out);
        return true;
    }
    if (!isType(obj, "multipart", "alternative")) {
        return false;
    }
    const int n = g_mime_multipart_get_count(mp);
    bool any = false;
    for (int i = 0; i < n; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(mp, i);
        if (isType(child, "multipart", "related") && !body.html) {
            takeRelated(GMIME_MULTIPART(child), body, out);
            any = true;
        } else if (GMIME_IS_PART(child) && !dispositionIsAttachment(child) &&
                   setText(GMIME_PART(child), body)) {
            any = true;
        } else {
            attachTree(child, false, out);
        }
    }
    return any || n > 0;
}

void Importer::takeRelated(GMimeMultipart* related, Body& body, Message& out) {
    const int n = g_mime_multipart_get_count(related);
    int root = 0;
    // The start parameter names the root part by its Content-ID; the first part otherwise.
    if (const char* start =
            g_mime_object_get_content_type_parameter(GMIME_OBJECT(related), "start")) {
        std::string id(trim(start));
        if (id.size() > 2 && id.front() == '<' && id.back() == '>') {
            id = id.substr(1, id.size() - 2);
        }
        for (int i = 0; i < n; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(related, i);
            if (id == cstr(g_mime_object_get_content_id(child))) {
                root = i;
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(related, i);
        if (i == root && takeBody(child, body, out)) {
            continue;
        }
        attachTree(child, true, out);
    }
}

void Importer::content(GMimeObject* obj, Body& body, Message& out) {
    if (obj == nullptr || takeBody(obj, body, out)) {
        return;
    }
    if (!GMIME_IS_MULTIPART(obj)) {
        attachTree(obj, false, out);
        return;
    }
    // multipart/mixed and anything unknown: the first child may hold the body (possibly in a
    // further nested mixed group), the rest are attachments.
    auto* mp = GMIME_MULTIPART(obj);
    const int n = g_mime_multipart_get_count(mp);
    int i = 0;
    if (n > 0) {
        GMimeObject* first = g_mime_multipart_get_part(mp, 0);
        if (GMIME_IS_MULTIPART(first) && !isType(first, "multipart", "alternative") &&
            !isType(first, "multipart", "related")) {
            content(first, body, out);
            i = 1;
        } else if (takeBody(first, body, out)) {
            i = 1;
        }
    }
    for (; i < n; ++i) {
        attachTree(g_mime_multipart_get_part(mp, i), false, out);
    }
}

void Importer::attachTree(GMimeObject* obj, bool inRelated, Message& out) {
    if (GMIME_IS_MULTIPART(obj)) {
        auto* mp = GMIME_MULTIPART(obj);
        const bool related = isType(obj, "multipart", "related");
        const int n = g_mime_multipart_get_count(mp);
        for (int i = 0; i < n; ++i) {
            attachTree(g_mime_multipart_get_part(mp, i), related, out);
        }
        return;
    }
    attach(obj, inRelated, out);
}

void Importer::attach(GMimeObject* obj, bool inRelated, Message& out) {
    using namespace tags;
    mapi::Attachment att;
    PropertyBag& p = att.props;
    const std::string mime = mimeTypeOf(obj);
    const char* description = nullptr;
    std::string name;
    if (GMIME_IS_PART(obj)) {
        auto* part = GMIME_PART(obj);
        name = sanitizeFilename(text(g_mime_part_get_filename(part)));
        description = g_mime_part_get_content_description(part);
    } else {
        name = sanitizeFilename(text(g_mime_object_get_content_type_parameter(obj, "name")));
        if (name.empty()) {
            if (auto* d = g_mime_object_get_content_disposition(obj)) {
                name =
                    sanitizeFilename(text(g_mime_content_disposition_get_parameter(d, "filename")));
            }
        }
        description = g_mime_object_get_header(obj, "Content-Description");
    }
    const std::string desc(trim(text(description)));

    GMimeMessage* inner = GMIME_IS_MESSAGE_PART(obj)
                              ? g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj))
                              : nullptr;
    if (inner != nullptr) {
        att.embedded = std::make_unique<Message>();
        GString8 headers(g_mime_object_get_headers(GMIME_OBJECT(inner), nullptr));
        fill(*att.embedded, inner, cstr(headers.get()), {}, {}, false);
        p.set(AttachMethod, std::int32_t{5});
        std::string display = !name.empty() ? name : desc;
        if (display.empty()) {
            display = att.embedded->props.string(Subject).value_or("");
        }
        setString(p, DisplayName, display);
    } else {
        Bytes data;
        if (GMIME_IS_PART(obj)) {
            data = decodedAs<Bytes>(GMIME_PART(obj));
        } else {
            // A message/rfc822 part GMime could not read, or some other container: keep its
            // bytes as they stand.
            std::string raw = serialized(obj);
            GString8 headers(g_mime_object_get_headers(obj, nullptr));
            const std::size_t h = std::strlen(cstr(headers.get()));
            raw.erase(0, std::min(h, raw.size()));
            if (raw.starts_with("\r\n")) {
                raw.erase(0, 2);
            } else if (raw.starts_with("\n")) {
                raw.erase(0, 1);
            }
            data.assign(raw.begin(), raw.end());
            if (name.empty() && mime == "message/rfc822") {
                name = "message.eml";
            }
        }
        p.set(AttachMethod, std::int32_t{1});
        p.set(AttachSize,
              static_cast<std::int32_t>(std::min<std::size_t>(data.size(), 0x7FFFFFFF)));
        p.set(AttachDataBinary, std::move(data));
        setString(p, DisplayName, !name.empty() ? name : desc);
    }
    if (!name.empty()) {
        setString(p, AttachLongFilename, name);
        setString(p, AttachFilename, shortFilename(name));
        setString(p, AttachExtension, extensionOf(name));
    }
    setString(p, AttachMimeTag, mime);
    const std::string cid(trim(text(g_mime_object_get_content_id(obj))));
    setString(p, AttachContentId, cid);
    std::string location;
    if (GMIME_IS_PART(obj)) {
        location = trim(text(g_mime_part_get_content_location(GMIME_PART(obj))));
        setString(p, AttachContentLocation, location);
    }
    // Only pictures that the HTML body shows in place are hidden; any other part stays visible
    // so that nothing disappears from the user's view.
    const bool hidden = inRelated && inner == nullptr && (!cid.empty() || !location.empty()) &&
                        isInlineImageType(mime) && !dispositionIsAttachment(obj);
    p.set(AttachmentHidden, hidden);
    if (hidden) {
        p.set(AttachFlags, std::int32_t{4});
    }
    p.set(RenderingPosition, std::int32_t{-1});
    p.set(AttachNumber, static_cast<std::int32_t>(out.attachments.size()));
    p.set(ObjectType, std::int32_t{7});
    out.attachments.push_back(std::move(att));
}

void Importer::fill(Message& out, GMimeMessage* msg, std::string_view rawHeaders,
                    std::string_view rawBody, std::string_view separator, bool topLevel) {
    using namespace tags;
    auto* obj = GMIME_OBJECT(msg);
    PropertyBag& p = out.props;
    setString(p, MessageClass, "IPM.Note");
    setSubject(p, trim(text(g_mime_message_get_subject(msg))));
    if (const std::string topic = headerValue(obj, "Thread-Topic"); !topic.empty()) {
        setString(p, ConversationTopic, topic);
    }

    const auto from = mailboxes(msg, GMIME_ADDRESS_TYPE_FROM);
    const auto sender = mailboxes(msg, GMIME_ADDRESS_TYPE_SENDER);
    if (!from.empty()) {
        setSender(p, from.front(), true);
    }
    if (!sender.empty()) {
        setSender(p, sender.front(), false);
    } else if (!from.empty()) {
        setSender(p, from.front(), false);
    }

    const auto replyTo = mailboxes(msg, GMIME_ADDRESS_TYPE_REPLY_TO);
    if (!replyTo.empty()) {
        std::string names;
        Bytes flat(8, 0); // FlatEntryList: count, byte size, then 4-byte aligned entries
        std::uint32_t count = 0;
        for (const auto& m : replyTo) {
            if (m.address.empty()) {
                continue;
            }
            names += (names.empty() ? "" : "; ") + m.name;
            const Bytes id = oneOffEntryId(m.name, m.address);
            const auto size = static_cast<std::uint32_t>(id.size());
            for (int k = 0; k < 4; ++k) {
                flat.push_back(static_cast<std::uint8_t>(size >> (8 * k)));
            }
            flat.insert(flat.end(), id.begin(), id.end());
            while (flat.size() % 4 != 0) {
                flat.push_back(0);
            }
            ++count;
        }
        if (count > 0) {
            const auto bytes = static_cast<std::uint32_t>(flat.size() - 8);
            for (int k = 0; k < 4; ++k) {
                flat[k] = static_cast<std::uint8_t>(count >> (8 * k));
                flat[4 + k] = static_cast<std::uint8_t>(bytes >> (8 * k));
            }
            setString(p, ReplyRecipientNames, names);
            p.set(ReplyRecipientEntries, std::move(flat));
        }
    }

    const struct {
        GMimeAddressType type;
        std::int32_t rtype;
        mapi::PropTag display;
    } kinds[] = {{GMIME_ADDRESS_TYPE_TO, 1, DisplayTo},
                 {GMIME_ADDRESS_TYPE_CC, 2, DisplayCc},
                 {GMIME_ADDRESS_TYPE_BCC, 3, DisplayBcc}};
    for (const auto& kind : kinds) {
        std::string display;
        for (const auto& m : mailboxes(msg, kind.type)) {
            mapi::Recipient r;
            r.props.set(RecipientType, kind.rtype);
            setString(r.props, DisplayName, m.name);
            setString(r.props, RecipientDisplayName, m.name);
            if (!m.address.empty()) {
                setString(r.props, AddressType, "SMTP");
                setString(r.props, EmailAddress, m.address);
                setString(r.props, SmtpAddress, m.address);
                r.props.set(EntryId, oneOffEntryId(m.name, m.address));
                r.props.set(SearchKey, searchKey(m.address));
            }
            r.props.set(RowId, static_cast<std::int32_t>(out.recipients.size()));
            r.props.set(ObjectType, std::int32_t{6});
            r.props.set(DisplayType, std::int32_t{0});
            r.props.set(RecipientFlags, std::int32_t{1});
            display += (display.empty() ? "" : "; ") + m.name;
            out.recipients.push_back(std::move(r));
        }
        setString(p, kind.display, display);
    }

    // Dates: the client-submit time from Date, the delivery time from the newest Received header.
    // Each stands in for the other when missing; the separator line's date is the last resort.
    auto submit = parseDate(g_mime_object_get_header(obj, "Date"));
    auto delivery = receivedDate(obj);
    if (!submit && !delivery) {
        submit = separatorDate(separator);
    }
    if (!delivery) {
        delivery = submit;
    }
    if (!submit) {
        submit = delivery;
    }
    if (submit) {
        p.set(ClientSubmitTime, *submit);
        p.set(MessageDeliveryTime, *delivery);
    }

    setString(p, TransportMessageHeaders, transportHeaders(rawHeaders));
    setString(p, InternetMessageId, headerValue(obj, "Message-ID"));
    setString(p, InReplyToId, headerValue(obj, "In-Reply-To"));
    std::string refs = headerValue(obj, "References");
    if (refs.size() > 65000) {
        refs.resize(refs.rfind(' ', 65000) == std::string::npos ? 65000 : refs.rfind(' ', 65000));
    }
    setString(p, InternetReferences, refs);
    p.set(Importance, importanceOf(obj));
    p.set(Priority, priorityOf(obj));
    p.set(Sensitivity, sensitivityOf(obj));
    if (g_mime_object_get_header(obj, "Disposition-Notification-To") != nullptr) {
        p.set(ReadReceiptRequested, true);
    }
    if (g_mime_object_get_header(obj, "Return-Receipt-To") != nullptr) {
        p.set(OriginatorDeliveryReportRequested, true);
    }

    Body body;
    content(g_mime_message_get_mime_part(msg), body, out);
    std::string innerBody;
    if (!body.plain && !body.html && out.attachments.empty() && rawBody.empty() && !topLevel) {
        // An attached mail has no source bytes of its own here: take them from GMime.
        innerBody = serialized(obj);
        GString8 headers(g_mime_object_get_headers(obj, nullptr));
        innerBody.erase(0, std::min(std::strlen(cstr(headers.get())), innerBody.size()));
        rawBody = innerBody;
    }
    if (!body.plain && !body.html && out.attachments.empty() && !trim(rawBody).empty()) {
        // Nothing readable came out of the MIME structure (no boundary, unknown layout): keep
        // the text as it stands rather than lose it.
        body.plain = toCrlf(decodeUnlabelled(rawBody));
        body.plainCodePage = isUtf8(rawBody) ? 65001 : 1252;
    }
    if (body.plain) {
        setString(p, tags::Body, *body.plain);
    }
    if (body.html && !body.html->empty()) {
        p.set(Html, Bytes(body.html->begin(), body.html->end()));
    }
    if (auto cp = body.html ? body.htmlCodePage : body.plainCodePage) {
        p.set(InternetCodepage, *cp);
    }
    p.set(NativeBody, std::int32_t{body.html ? 3 : 1});

    const std::int32_t hasAttach = out.attachments.empty() ? 0 : tags::MsgFlagHasAttach;
    // An attached mail is neither read nor unsent ([MS-OXCMAIL] 2.2.3.4.3); a received top-level
    // mail is stored as read.
    p.set(MessageFlags, topLevel ? tags::MsgFlagRead | hasAttach : hasAttach);
    p.set(HasAttachments, !out.attachments.empty());
}

Message plainTextMessage(const Split& split) {
    Message out;
    setString(out.props, tags::MessageClass, "IPM.Note");
    setString(out.props, tags::Body, toCrlf(decodeUnlabelled(split.content)));
    out.props.set(tags::InternetCodepage, std::int32_t{isUtf8(split.content) ? 65001 : 1252});
    if (auto t = separatorDate(split.separator)) {
        out.props.set(tags::ClientSubmitTime, *t);
        out.props.set(tags::MessageDeliveryTime, *t);
    }
    out.props.set(tags::MessageFlags, tags::MsgFlagRead);
    out.props.set(tags::HasAttachments, false);
    return out;
}

} // namespace

Message importRfc822(std::span<const std::byte> bytes) {
    ensureGMime();
    const std::string_view input(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const Split split = splitInput(input);
    if (split.headers.empty()) {
        return plainTextMessage(split);
    }

    std::unique_ptr<GMimeParserOptions, OptionsFree> options(g_mime_parser_options_new());
    // Bare 8-bit header text: UTF-8 if it is valid UTF-8, otherwise Windows-1252.
    const char* fallback[] = {"utf-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
    g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_allow_addresses_without_domain(options.get(), TRUE);

    const std::optional<std::string> repaired =
        repairPartHeaders(split.body, declaredBoundaries(split.content));
    const std::string_view headerText =
        split.content.substr(0, split.content.size() - split.body.size());
    const std::optional<std::string> escaped = escapeRawBytesInQWords(headerText);
    std::string patched;
    if (repaired || escaped) {
        patched.reserve(split.content.size() + 16);
        patched.append(escaped ? std::string_view(*escaped) : headerText);
        patched.append(repaired ? std::string_view(*repaired) : split.body);
    }
    const std::string_view parseText =
        repaired || escaped ? std::string_view(patched) : split.content;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(parseText.data(), parseText.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), options.get()));
    if (!msg) {
        return plainTextMessage(split);
    }
    Message out;
    Importer().fill(out, msg.get(), split.headers, split.body, split.separator, true);
    return out;
}

Message importRfc822(const std::filesystem::path& emlPath) {
    std::ifstream in(emlPath, std::ios::binary);
    if (!in) {
        throw ImportError("cannot open " + emlPath.string());
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(emlPath, ec);
    std::string data;
    if (!ec) {
        data.resize(static_cast<std::size_t>(size));
        in.read(data.data(), static_cast<std::streamsize>(data.size()));
        data.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (ec || in.bad()) {
        throw ImportError("cannot read " + emlPath.string());
    }
    return importRfc822(std::as_bytes(std::span(data.data(), data.size())));
}

std::int32_t messageFlagsFor(const Message& message, std::int32_t requested) {
    std::int32_t flags = requested & ~(tags::MsgFlagUnsent | tags::MsgFlagHasAttach);
    if (!message.attachments.empty()) {
        flags |= tags::MsgFlagHasAttach;
    }
    return flags;
}

} // namespace mbx::mime
