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
std::string decodedContent(GMimePart* part);
// The object as GMime writes it, headers included.
std::string serialized(GMimeObject* obj);

} // namespace mbx::mime::detail
