#include "mailstore/mime/common.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"

#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mbx::mime::detail {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

std::string toLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = toLower(c);
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

std::size_t findNoCase(std::string_view text, std::string_view needle) {
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (startsWithNoCase(text.substr(i), needle)) {
            return i;
        }
    }
    return std::string_view::npos;
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

namespace {
// Index of the first byte at or below CR from `i` on (the size when none): sixteen bytes a step
// with SSE2, eight bytes a step elsewhere, while no byte is below 0x0E.
std::size_t nextControl(std::string_view s, std::size_t i) {
    const std::size_t n = s.size();
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi8(0x0D);
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
        // min(v, 0x0D) == v exactly for the bytes at or below CR.
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, limit), v));
        if (mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
        }
        i += 16;
    }
#else
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    while (i + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        if ((w - kOnes * 0x0E) & ~w & kHighBits)
            break;
        i += 8;
    }
#endif
    while (i<n&& static_cast<unsigned char>(s[i])> '\r') {
        ++i;
    }
    return i;
}

// True when toCrlf has nothing to change: every CR is followed by LF, no LF stands alone, no NUL.
bool isCrlfText(std::string_view s) {
    const std::size_t n = s.size();
    for (std::size_t i = nextControl(s, 0); i < n; i = nextControl(s, i)) {
        const char c = s[i];
        if (c == '\r' && i + 1 < n && s[i + 1] == '\n') {
            i += 2;
        } else if (c == '\r' || c == '\n' || c == '\0') {
            return false;
        } else {
            ++i;
        }
    }
    return true;
}
} // namespace

// Line ends as Windows programs expect them in PidTagBody and the transport headers; NUL
// characters replaced so that no reader takes them for the end of the text.
std::string toCrlf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 32 + 2);
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        // Runs of ordinary text are copied whole; every byte that needs care is at most CR.
        const std::size_t start = i;
        i = nextControl(s, i);
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

std::string toCrlf(std::string&& s) {
    if (isCrlfText(s)) {
        return std::move(s);
    }
    return toCrlf(std::string_view(s));
}

// The one way the import stores text, so every string in the model is valid UTF-8: anything
// else is bare 8-bit text and read as such. Empty strings are left out: several readers,
// Outlook among them, reject them.
void setString(PropertyBag& bag, mapi::PropTag tag, std::string_view value) {
    if (!value.empty()) {
        bag.set(tag, decodeUnlabelled(value));
    }
}

void setString(PropertyBag& bag, mapi::PropTag tag, std::string&& value) {
    if (!value.empty()) {
        bag.set(tag, decodeUnlabelled(std::move(value)));
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

std::string decodedContent(GMimePart* part) {
    return decodedAs<std::string>(part);
}

std::string serialized(GMimeObject* obj) {
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(obj, nullptr, mem.get());
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::string(reinterpret_cast<const char*>(arr->data), arr->len);
}

} // namespace mbx::mime::detail
