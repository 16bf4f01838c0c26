#include "mailstore/mime/charset.h"

#include "mailstore/mapi/text.h"
#include "mailstore/mime/common.h"
#include "mailstore/mime/gmime_init.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <gmime/gmime.h>
#include <iconv.h>
#include <utility>

namespace mbx::mime {

using mapi::appendUtf8;

namespace {

// 0x80..0x9F of Windows-1252; undefined positions keep their C1 value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string trimmedLower(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '"')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '"')) {
        s.remove_suffix(1);
    }
    return detail::toLower(s);
}

class Iconv {
public:
    explicit Iconv(const char* from) : cd_(iconv_open("UTF-8", from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else if (b < 0xA0) {
            appendUtf8(out, kCp1252High[b - 0x80]);
        } else {
            appendUtf8(out, b);
        }
    }
    return out;
}

std::string utf8ToWindows1252(std::string_view utf8) {
    const std::u16string units = mapi::utf8ToUtf16(utf8);
    std::string out;
    out.reserve(units.size());
    for (const char16_t u : units) {
        if (u >= 0xD800 && u <= 0xDBFF) {
            continue; // a pair is one character: its second half gives the '?'
        }
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        const auto* at = std::find(kCp1252High.begin(), kCp1252High.end(), u);
        out.push_back(
            at == kCp1252High.end() ? '?' : static_cast<char>(0x80 + (at - kCp1252High.begin())));
    }
    return out;
}

std::string decodeUnlabelled(std::string_view bytes) {
    return isUtf8(bytes) ? std::string(bytes) : windows1252ToUtf8(bytes);
}

std::string decodeUnlabelled(std::string&& bytes) {
    return isUtf8(bytes) ? std::move(bytes) : windows1252ToUtf8(bytes);
}

namespace {
bool isUtf8Label(std::string_view name) {
    return name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii";
}
} // namespace

std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) {
    const std::string name = trimmedLower(charset);
    if (name.empty()) {
        return std::nullopt;
    }
    if (isUtf8Label(name)) {
        return decodeUnlabelled(bytes);
    }
    if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" ||
        name == "windows-1252" || name == "cp1252" || name == "x-user-defined") {
        return windows1252ToUtf8(bytes);
    }
    // GMime knows the aliases mail uses (ks_c_5601-1987, x-sjis, ...) and their iconv names.
    detail::ensureGMime();
    Iconv cd(g_mime_charset_iconv_name(name.c_str()));
    if (!cd.ok()) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(bytes.size() * 2);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::array<char, 4096> buf{};
    while (inLeft > 0) {
        char* o = buf.data();
        std::size_t oLeft = buf.size();
        const std::size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        out.append(buf.data(), buf.size() - oLeft);
        if (r != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // An invalid or cut-off sequence: mark it and go on with the next byte.
        appendUtf8(out, 0xFFFD);
        if (errno == EINVAL) {
            break;
        }
        ++in;
        --inLeft;
    }
    char* o = buf.data();
    std::size_t oLeft = buf.size();
    iconv(cd.get(), nullptr, nullptr, &o, &oLeft);
    out.append(buf.data(), buf.size() - oLeft);
    return out;
}

std::string decodeText(std::string_view bytes, std::string_view charset) {
    if (auto s = decodeCharset(bytes, charset)) {
        return std::move(*s);
    }
    return decodeUnlabelled(bytes);
}

std::string decodeText(std::string&& bytes, std::string_view charset) {
    const std::string name = trimmedLower(charset);
    if (name.empty() || isUtf8Label(name)) {
        return decodeUnlabelled(std::move(bytes));
    }
    return decodeText(std::string_view(bytes), charset);
}

std::string effectiveCharset(std::string_view bytes, std::string_view label,
                             std::string_view eightBitDefault) {
    const std::string name = trimmedLower(label);
    const bool eightBit = mapi::asciiPrefixLength(bytes) < bytes.size();
    if (!eightBit) {
        return name;
    }
    const bool utf8 = isUtf8(bytes);
    const bool westernOrNone = name.empty() || name == "us-ascii" || name == "ascii" ||
                               name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" ||
                               name == "windows-1252" || name == "cp1252";
    if (utf8 && westernOrNone) {
        return "utf-8";
    }
    if (!utf8 && (name.empty() || name == "utf-8" || name == "utf8" || name == "us-ascii" ||
                  name == "ascii")) {
        return std::string(eightBitDefault);
    }
    return name;
}

std::optional<std::int32_t> codePageOf(std::string_view charset) {
    static constexpr std::pair<std::string_view, std::int32_t> kTable[] = {
        {"utf-8", 65001},        {"utf8", 65001},        {"us-ascii", 20127},
        {"ascii", 20127},        {"windows-1252", 1252}, {"cp1252", 1252},
        {"iso-8859-1", 28591},   {"latin1", 28591},      {"iso-8859-2", 28592},
        {"iso-8859-3", 28593},   {"iso-8859-4", 28594},  {"iso-8859-5", 28595},
        {"iso-8859-6", 28596},   {"iso-8859-7", 28597},  {"iso-8859-8", 28598},
        {"iso-8859-9", 28599},   {"iso-8859-13", 28603}, {"iso-8859-15", 28605},
        {"windows-1250", 1250},  {"windows-1251", 1251}, {"windows-1253", 1253},
        {"windows-1254", 1254},  {"windows-1255", 1255}, {"windows-1256", 1256},
        {"windows-1257", 1257},  {"windows-1258", 1258}, {"koi8-r", 20866},
        {"koi8-u", 21866},       {"iso-2022-jp", 50220}, {"shift_jis", 932},
        {"shift-jis", 932},      {"x-sjis", 932},        {"sjis", 932},
        {"euc-jp", 51932},       {"gb2312", 936},        {"gbk", 936},
        {"gb18030", 54936},      {"big5", 950},          {"euc-kr", 949},
        {"ks_c_5601-1987", 949}, {"iso-2022-kr", 50225}, {"utf-16", 1200},
        {"utf-16le", 1200},      {"utf-16be", 1201},     {"utf-7", 65000},
        {"tis-620", 874},        {"windows-874", 874},   {"cp866", 866},
        {"ibm866", 866},         {"macintosh", 10000},   {"x-mac-roman", 10000},
    };
    const std::string name = trimmedLower(charset);
    for (const auto& [label, cp] : kTable) {
        if (label == name) {
            return cp;
        }
    }
    return std::nullopt;
}

} // namespace mbx::mime
