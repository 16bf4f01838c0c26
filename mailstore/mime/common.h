// Pieces every unit of the Internet-mail import uses: GMime ownership, ASCII case and spaces, line
// ends, and the one way text is stored in the model.
#pragma once

#include "mailstore/mapi/property.h"

#include <cstddef>
#include <gmime/gmime.h>
#include <memory>
#include <string>
#include <string_view>

namespace mbx::mime::detail {

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

// ASCII case only: header names, keywords, tags and file names are compared this way, whatever
// the locale.
inline char toLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
std::string toLower(std::string_view s);
std::string toUpper(std::string_view s);
inline bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (toLower(s[i]) != toLower(prefix[i])) {
            return false;
        }
    }
    return true;
}
// The first place of `needle` in `text`, ignoring ASCII case; npos when there is none.
std::size_t findNoCase(std::string_view text, std::string_view needle);
// Without the spaces, tabs, CRs and LFs at both ends.
std::string_view trim(std::string_view s);
// Line ends as Windows programs expect them in PidTagBody and the transport headers; NUL
// characters replaced so that no reader takes them for the end of the text.
std::string toCrlf(std::string_view s);
// The same, reusing the string when it has nothing to change.
std::string toCrlf(std::string&& s);
// The one way the import stores text, so every string in the model is valid UTF-8: anything
// else is bare 8-bit text and read as such. Empty strings are left out: several readers,
// Outlook among them, reject them.
void setString(mapi::PropertyBag& bag, mapi::PropTag tag, std::string_view value);
void setString(mapi::PropertyBag& bag, mapi::PropTag tag, std::string&& value);
inline void setString(mapi::PropertyBag& bag, mapi::PropTag tag, const char* value) {
    setString(bag, tag, std::string_view(value));
}
const char* cstr(const char* s);
// Text as GMime decoded it, made valid UTF-8.
std::string text(const char* s);

std::string mimeTypeOf(GMimeObject* obj);
bool isType(GMimeObject* obj, const char* type, const char* subtype);
bool dispositionIsAttachment(GMimeObject* obj);
// The part's content with its transfer encoding (base64, quoted-printable, uuencode) undone, as
// g_mime_data_wrapper_write_to_stream() undoes it, but read straight into the result: its room
// is taken once, for the most the encoded bytes can give (a large attachment is not decoded into
// a buffer first and copied after).
template <typename Out> Out decodedAs(GMimePart* part) {
    GMimeDataWrapper* w = g_mime_part_get_content(part);
    GMimeStream* stream = w != nullptr ? g_mime_data_wrapper_get_stream(w) : nullptr;
    if (stream == nullptr) {
        return {};
    }
    GPtr<GMimeStream> content(GMIME_STREAM(g_object_ref(stream))); // (the wrapper keeps its own)
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(w);
    const bool base64 =
        encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_UUENCODE;
    const bool encoded = base64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    g_mime_stream_reset(content.get());
    GPtr<GMimeStream> decoded(encoded ? g_mime_stream_filter_new(content.get())
                                      : GMIME_STREAM(g_object_ref(content.get())));
    if (encoded) {
        GPtr<GMimeFilter> filter(g_mime_filter_basic_new(encoding, FALSE));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(decoded.get()), filter.get());
    }
    Out out;
    if (const gint64 length = g_mime_stream_length(content.get()); length > 0) {
        const auto most = static_cast<std::size_t>(length);
        out.reserve(base64 ? most / 4 * 3 + 3 : most);
    }
    char buffer[16384];
    while (!g_mime_stream_eos(decoded.get())) {
        const ssize_t n = g_mime_stream_read(decoded.get(), buffer, sizeof buffer);
        if (n < 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    g_mime_stream_reset(content.get());
    return out;
}
std::string decodedContent(GMimePart* part);
// The object as GMime writes it, headers included.
std::string serialized(GMimeObject* obj);

} // namespace mbx::mime::detail
