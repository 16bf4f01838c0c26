#include "mailstore/mapi/text.h"

#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mbx::mapi {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

// The one UTF-8 decoder. Decodes the code point starting at s[i] and advances i past it, or
// returns kInvalid: past one byte when the sequence is malformed or cut off, past the whole
// sequence when it is well-formed but encodes an overlong form, a surrogate or a value above
// U+10FFFF (each such sequence stands for one replacement character).
char32_t decodeOne(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kInvalid;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return kInvalid;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kInvalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return kInvalid;
    }
    return cp;
}
// Writes the UTF-16LE units of the ASCII prefix of `s` to `out` (room for two bytes per byte of
// `s`) and returns the prefix's length.
std::size_t widenAscii(std::string_view s, std::uint8_t* out) {
    const std::size_t n = s.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
        if (_mm_movemask_epi8(bytes) != 0)
            break;
        auto* to = reinterpret_cast<__m128i*>(out + 2 * i);
        _mm_storeu_si128(to, _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi8(bytes, zero));
        i += 16;
    }
#endif
    for (; i < n && !(static_cast<unsigned char>(s[i]) & 0x80); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(s[i]);
        out[2 * i + 1] = 0;
    }
    return i;
}

char32_t decodeOrReplace(std::string_view s, std::size_t& i) {
    const char32_t cp = decodeOne(s, i);
    return cp == kInvalid ? kReplacement : cp;
}
} // namespace

std::size_t asciiPrefixLength(std::string_view s) {
    const std::size_t n = s.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    while (i + 32 <= n) {
        const auto* at = reinterpret_cast<const __m128i*>(s.data() + i);
        const int high =
            _mm_movemask_epi8(_mm_or_si128(_mm_loadu_si128(at), _mm_loadu_si128(at + 1)));
        if (high != 0)
            break;
        i += 32;
    }
#else
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    while (i + 16 <= n) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, s.data() + i, 8);
        std::memcpy(&b, s.data() + i + 8, 8);
        if ((a | b) & kHighBits)
            break;
        i += 16;
    }
#endif
    while (i < n && !(static_cast<unsigned char>(s[i]) & 0x80))
        ++i;
    return i;
}

bool isUtf8(std::string_view s) {
    std::size_t i = 0;
    while ((i += asciiPrefixLength(s.substr(i))) < s.size())
        if (decodeOne(s, i) == kInvalid)
            return false;
    return true;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = decodeOrReplace(utf8, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::vector<std::uint8_t> utf16leBytes(std::string_view utf8) {
    // Every UTF-8 byte gives at most one UTF-16 unit, so twice the input size is enough; the
    // two bytes more let the piece below take the last character too.
    std::vector<std::uint8_t> out(utf8.size() * 2 + 2);
    std::size_t at = 0;
    out.resize(utf16lePiece(utf8, at, out.data(), out.size()));
    return out;
}

std::size_t utf16lePiece(std::string_view utf8, std::size_t& at, std::uint8_t* out,
                         std::size_t room) {
    std::uint8_t* p = out;
    std::uint8_t* const end = out + room;
    const auto put = [&p](char32_t unit) {
        p[0] = static_cast<std::uint8_t>(unit & 0xFF);
        p[1] = static_cast<std::uint8_t>(unit >> 8);
        p += 2;
    };
    std::size_t i = at; // (a local: the stores through `p` could otherwise change `at`)
    while (i < utf8.size() && end - p >= 4) {
        const std::string_view run = utf8.substr(i, static_cast<std::size_t>(end - p) / 2);
        const std::size_t ascii = widenAscii(run, p);
        p += 2 * ascii;
        i += ascii;
        if (i == utf8.size() || end - p < 4 || static_cast<unsigned char>(utf8[i]) < 0x80)
            continue;
        const char32_t cp = decodeOrReplace(utf8, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            put(0xD800 + (v >> 10));
            put(0xDC00 + (v & 0x3FF));
        } else {
            put(cp);
        }
    }
    at = i;
    return static_cast<std::size_t>(p - out);
}

} // namespace mbx::mapi
