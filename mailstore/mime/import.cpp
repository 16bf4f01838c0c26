#include "mailstore/mime/import.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/addresses.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/common.h"
#include "mailstore/mime/dates.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/gmime_init.h"
#include "mailstore/mime/importer.h"
#include "mailstore/mime/repair.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gmime/gmime.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;
using namespace detail;

namespace {

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

} // namespace

void detail::Importer::fill(Message& out, GMimeMessage* msg, std::string_view rawHeaders,
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

    setReplyTo(p, msg);
    addRecipients(out, msg);
    setDates(p, obj, separator);

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
        const std::string charset = effectiveCharset(rawBody, "", options_.eightBitCharset);
        body.plain = toCrlf(decodeText(rawBody, charset));
        body.plainCodePage = codePageOf(charset).value_or(65001);
    }
    eudoraMarkup(body);
    if (topLevel) {
        attachDetached(body, obj, out);
    }
    if (body.plain) {
        setString(p, tags::Body, std::move(*body.plain));
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

namespace {

Message plainTextMessage(const Split& split, const ImportOptions& options) {
    Message out;
    const std::string charset = effectiveCharset(split.content, "", options.eightBitCharset);
    setString(out.props, tags::MessageClass, "IPM.Note");
    setString(out.props, tags::Body, toCrlf(decodeText(split.content, charset)));
    out.props.set(tags::InternetCodepage, codePageOf(charset).value_or(65001));
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
    std::vector<std::string> notes;
    return importRfc822(bytes, ImportOptions{}, notes);
}

struct ImportSession::State {
    GPtr<GMimeParser> parser;
    GPtr<GMimeStream> idle; // what the parser reads between messages: nothing
};

namespace {

Message importTopLevel(std::span<const std::byte> bytes, const ImportOptions& importOptions,
                       std::vector<std::string>& notes, ImportSession* session) {
    ensureGMime();
    std::string_view input(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::optional<std::string> lineEnds = eudora::normaliseLineEnds(input);
    if (lineEnds) {
        input = *lineEnds;
    }
    const Split split = splitInput(input);
    if (split.headers.empty()) {
        return plainTextMessage(split, importOptions);
    }

    std::unique_ptr<GMimeParserOptions, OptionsFree> options(g_mime_parser_options_new());
    // Bare 8-bit header text: UTF-8 if it is valid UTF-8, otherwise Windows-1252.
    const char* fallback[] = {"utf-8", importOptions.eightBitCharset.c_str(), nullptr};
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
    if (parseText.size() > G_MAXUINT) {
        throw ImportError("a message of more than 4 GiB cannot be read");
    }
    // The text is lent to GMime, not copied (a message carrying a large attachment would be
    // held twice): a byte array that points at it, owned by no stream. The parts share it as
    // substreams, which read it only; it gives the text up before it goes.
    struct LentText {
        GByteArray* array = g_byte_array_new();
        explicit LentText(std::string_view text) {
            array->data = reinterpret_cast<guint8*>(const_cast<char*>(text.data()));
            array->len = static_cast<guint>(text.size());
        }
        ~LentText() {
            array->data = nullptr;
            array->len = 0;
            g_byte_array_free(array, TRUE);
        }
        LentText(const LentText&) = delete;
        LentText& operator=(const LentText&) = delete;
    } lent(parseText);
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(lent.array));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
    GPtr<GMimeParser> own;
    GMimeParser* parser = nullptr;
    if (session != nullptr) {
        parser = session->state().parser.get();
        g_mime_parser_init_with_stream(parser, stream.get());
    } else {
        own.reset(g_mime_parser_new_with_stream(stream.get()));
        parser = own.get();
    }
    // A kept parser lets go of the text's stream before the text goes.
    struct Idle {
        ImportSession* session;
        ~Idle() {
            if (session != nullptr) {
                g_mime_parser_init_with_stream(session->state().parser.get(),
                                               session->state().idle.get());
            }
        }
    } idle{session};
    g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
    GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser, options.get()));
    if (!msg) {
        return plainTextMessage(split, importOptions);
    }
    Message out;
    Importer(importOptions, notes)
        .fill(out, msg.get(), split.headers, split.body, split.separator, true);
    return out;
}

} // namespace

ImportSession::ImportSession() : state_(std::make_unique<State>()) {
    ensureGMime();
    state_->idle.reset(g_mime_stream_mem_new());
    state_->parser.reset(g_mime_parser_new_with_stream(state_->idle.get()));
}

ImportSession::~ImportSession() = default;

Message importRfc822(std::span<const std::byte> bytes, const ImportOptions& importOptions,
                     std::vector<std::string>& notes, ImportSession& session) {
    Message out = importTopLevel(bytes, importOptions, notes, &session);
    if (importOptions.state) {
        eudora::applyState(out, *importOptions.state);
    }
    return out;
}

Message importRfc822(std::span<const std::byte> bytes, const ImportOptions& importOptions,
                     std::vector<std::string>& notes) {
    Message out = importTopLevel(bytes, importOptions, notes, nullptr);
    if (importOptions.state) {
        eudora::applyState(out, *importOptions.state);
    }
    return out;
}

Message importRfc822(const std::filesystem::path& emlPath) {
    std::vector<std::string> notes;
    return importRfc822(emlPath, ImportOptions{}, notes);
}

Message importRfc822(const std::filesystem::path& emlPath, const ImportOptions& options,
                     std::vector<std::string>& notes) {
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
    return importRfc822(std::as_bytes(std::span(data.data(), data.size())), options, notes);
}

std::int32_t messageFlagsFor(const Message& message, std::int32_t requested) {
    std::int32_t flags = requested & ~tags::MsgFlagHasAttach;
    if (!message.attachments.empty()) {
        flags |= tags::MsgFlagHasAttach;
    }
    return flags;
}

} // namespace mbx::mime
