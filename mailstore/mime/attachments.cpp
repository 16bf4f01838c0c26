#include "mailstore/mapi/tags.h"
#include "mailstore/mime/common.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/importer.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace mbx::mime::detail {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

namespace {

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

// The properties every attachment ends with, then the attachment itself, numbered in order.
// A hidden one is drawn by the HTML body in place.
void appendAttachment(mapi::Attachment att, bool hidden, Message& out) {
    PropertyBag& p = att.props;
    p.set(tags::AttachmentHidden, hidden);
    if (hidden) {
        p.set(tags::AttachFlags, tags::AttachFlagRenderedInBody);
    }
    p.set(tags::RenderingPosition, std::int32_t{-1});
    p.set(tags::AttachNumber, static_cast<std::int32_t>(out.attachments.size()));
    p.set(tags::ObjectType, tags::ObjectTypeAttach);
    out.attachments.push_back(std::move(att));
}

void attachFile(eudora::FoundFile file, Message& out) {
    using namespace tags;
    mapi::Attachment att;
    PropertyBag& p = att.props;
    p.set(AttachMethod, std::int32_t{1});
    p.set(AttachSize, static_cast<std::int32_t>(file.data.size()));
    p.set(AttachDataBinary, std::move(file.data));
    const std::string name = sanitizeFilename(file.name);
    setString(p, DisplayName, name);
    setString(p, AttachLongFilename, name);
    setString(p, AttachFilename, shortFilename(name));
    setString(p, AttachExtension, extensionOf(name));
    setString(p, AttachMimeTag, file.mimeType);
    setString(p, AttachContentId, file.contentId);
    // A picture linked from the HTML body is shown there, not in the attachment list.
    appendAttachment(std::move(att), !file.contentId.empty(), out);
}

} // namespace

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
    appendAttachment(std::move(att), hidden, out);
}

// The files Eudora's attachment lines and X-Attachments header name are attached to the message
// itself only: an attached mail's lines refer to its sender's disk.
void Importer::attachDetached(const Body& body, GMimeObject* message, Message& out) {
    std::vector<eudora::DetachedFile> sent;
    GMimeHeaderList* headers = g_mime_object_get_header_list(message);
    const int count = headers != nullptr ? g_mime_header_list_get_count(headers) : 0;
    for (int i = 0; i < count; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
        if (g_ascii_strcasecmp(cstr(g_mime_header_get_name(h)), "X-Attachments") == 0) {
            for (auto& f : eudora::sentAttachments(text(g_mime_header_get_value(h)))) {
                sent.push_back(std::move(f));
            }
        }
    }
    if (!body.plain && sent.empty()) {
        return;
    }
    std::vector<std::string> cids;
    for (const auto& a : out.attachments) {
        if (auto cid = a.props.string(tags::AttachContentId)) {
            cids.push_back(*cid);
        }
    }
    const eudora::Folders folders{options_.attachmentFolders, options_.embeddedFolder};
    for (auto& file :
         eudora::resolveDetached(body.plain ? *body.plain : "", body.html ? *body.html : "", cids,
                                 folders, notes_, sent)) {
        attachFile(std::move(file), out);
    }
}

} // namespace mbx::mime::detail
