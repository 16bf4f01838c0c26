#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/common.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/importer.h"

#include <cctype>

namespace mbx::mime::detail {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

namespace {

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

} // namespace

bool Importer::setText(GMimePart* part, Body& body) {
    auto* obj = GMIME_OBJECT(part);
    const bool html = isType(obj, "text", "html");
    if (!html && !isType(obj, "text", "plain")) {
        return false;
    }
    if ((html && body.html) || (!html && body.plain)) {
        return false;
    }
    std::string raw = decodedContent(part);
    std::string charset = cstr(g_mime_object_get_content_type_parameter(obj, "charset"));
    if (html && charset.empty()) {
        charset = metaCharset(raw);
    }
    charset = effectiveCharset(raw, charset, options_.eightBitCharset);
    if (html) {
        // PidTagHtml keeps the bytes and PidTagInternetCodepage names their charset; text in an
        // unknown charset is turned into UTF-8 so that the code page can be stated truthfully.
        if (auto cp = codePageOf(charset); cp && decodeCharset(raw, charset)) {
            body.html = std::move(raw);
            body.htmlCodePage = *cp;
        } else {
            body.html = decodeText(raw, charset);
            body.htmlCodePage = 65001;
        }
    } else {
        const auto cp = codePageOf(charset);
        body.plainCodePage = cp ? *cp : (isUtf8(raw) ? 65001 : 1252);
        body.plain = toCrlf(decodeText(std::move(raw), charset));
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

// Eudora's pseudo-tags become the bodies they stand for; in an HTML part they are dropped.
void Importer::eudoraMarkup(Body& body) {
    if (body.html) {
        if (auto clean = eudora::withoutXHtml(*body.html)) {
            body.html = std::move(*clean);
        }
    }
    if (!body.plain) {
        return;
    }
    if (auto rendered = eudora::renderMarkup(*body.plain)) {
        body.plain = std::move(rendered->plain);
        if (rendered->html && !body.html) {
            body.html = std::move(rendered->html);
            body.htmlCodePage = 65001;
        }
    }
}

} // namespace mbx::mime::detail
