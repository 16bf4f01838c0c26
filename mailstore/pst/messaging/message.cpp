#include "mailstore/pst/messaging/message.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/ltp/tc.h"
#include "mailstore/pst/messaging/templates.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace mbx::pst {
namespace tags = mapi::tags;
namespace {

Bytes int32Bytes(std::int32_t v) {
    Bytes b;
    appendLe32(b, static_cast<std::uint32_t>(v));
    return b;
}

std::int32_t int32Of(const std::vector<EncodedProp>& props, PropTag tag, std::int32_t fallback) {
    const EncodedProp* p = findProp(props, tag);
    return (p && p->data.size() >= 4) ? static_cast<std::int32_t>(readLe32(p->data.data()))
                                      : fallback;
}

std::uint64_t propsSize(const std::vector<EncodedProp>& props) {
    std::uint64_t n = 0;
    for (const auto& p : props)
        n += p.data.size();
    return n;
}

Bytes randomKey(std::mt19937_64& rng) {
    Bytes b(16);
    writeLe64(b.data(), rng());
    writeLe64(b.data() + 8, rng());
    return b;
}

Bytes nowTime() {
    const auto unix = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    Bytes b;
    appendLe64(b, mapi::FileTime::fromUnixSeconds(unix).ticks);
    return b;
}

// "; "-joined display names of the recipients of one type, as Outlook derives PidTagDisplayTo.
std::string displayList(const mapi::Message& m, std::int32_t type) {
    std::string out;
    for (const auto& r : m.recipients) {
        if (r.props.int32(tags::RecipientType).value_or(tags::RecipientTo) != type)
            continue;
        auto name = r.props.string(tags::DisplayName);
        if (!name)
            name = r.props.string(tags::EmailAddress);
        if (!out.empty())
            out += "; ";
        out += name.value_or("");
    }
    return out;
}

struct AttachmentOut {
    Nid nid;
    std::vector<EncodedProp> props;
    std::uint64_t size;
};

} // namespace

void setProp(std::vector<EncodedProp>& props, PropTag tag, Bytes data) {
    for (auto& p : props) {
        if (mapi::propId(p.tag) == mapi::propId(tag)) {
            p.tag = tag;
            p.data = std::move(data);
            return;
        }
    }
    props.push_back({tag, std::move(data)});
}

const EncodedProp* findProp(const std::vector<EncodedProp>& props, PropTag tag) {
    for (const auto& p : props)
        if (p.tag == tag)
            return &p;
    return nullptr;
}

namespace {
bool storable(PropType type) {
    switch (type) {
    case PropType::Int16:
    case PropType::Int32:
    case PropType::Error:
    case PropType::Boolean:
    case PropType::Int64:
    case PropType::Currency:
    case PropType::Double:
    case PropType::AppTime:
    case PropType::SysTime:
    case PropType::Unicode:
    case PropType::String8:
    case PropType::Binary:
    case PropType::Guid:
    case PropType::MvInt32:
    case PropType::MvUnicode:
    case PropType::MvBinary:
        return true;
    default:
        return false; // PtypObject only as an embedded message, through Attachment::embedded
    }
}

void validateBag(const mapi::PropertyBag& bag, const char* what) {
    auto fail = [what](PropTag tag, const char* why) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", tag);
        throw PstError(std::string(what) + " property 0x" + text + ": " + why);
    };
    for (const auto& [tag, value] : bag.properties()) {
        if (mapi::propId(tag) >= tags::FirstNamedPropId)
            fail(tag, "ordinary property with a named-property id");
        if (!storable(mapi::propType(tag)))
            fail(tag, "type cannot be stored");
        if (!mapi::valueMatchesType(mapi::propType(tag), value))
            fail(tag, "value does not match its type");
    }
    for (const auto& [key, named] : bag.named()) {
        const PropTag tag = mapi::makeTag(tags::FirstNamedPropId, named.type);
        if (!storable(named.type))
            fail(tag, "named property type cannot be stored");
        if (!mapi::valueMatchesType(named.type, named.value))
            fail(tag, "named property value does not match its type");
    }
}
} // namespace

void validateMessage(const mapi::Message& message) {
    validateBag(message.props, "message");
    for (const auto& r : message.recipients)
        validateBag(r.props, "recipient");
    for (const auto& a : message.attachments) {
        validateBag(a.props, "attachment");
        if (a.embedded)
            validateMessage(*a.embedded);
    }
}

std::vector<EncodedProp> encodeBag(const mapi::PropertyBag& bag, NameToIdMap& names) {
    std::vector<EncodedProp> out;
    out.reserve(bag.properties().size() + bag.named().size());
    for (const auto& [tag, value] : bag.properties()) {
        if (mapi::propId(tag) >= tags::FirstNamedPropId)
            throw PstError("ordinary property with a named-property id");
        out.push_back({tag, encodeValue(mapi::propType(tag), value)});
    }
    for (const auto& [key, named] : bag.named()) {
        const PropTag tag = mapi::makeTag(names.idFor(key), named.type);
        out.push_back({tag, encodeValue(named.type, named.value)});
    }
    return out;
}

WrittenMessage writeMessage(NdbWriter& ndb, NameToIdMap& names, std::mt19937_64& rng,
                            const mapi::Message& message) {
    SubnodeSet subs;
    WrittenMessage out;
    std::vector<EncodedProp> props = encodeBag(message.props, names);

    // Attachments first: their sizes feed the message size.
    std::vector<AttachmentOut> attachments;
    std::uint64_t attachBytes = 0;
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        const mapi::Attachment& a = message.attachments[i];
        SubnodeSet attSubs;
        AttachmentOut att{subs.newNid(NidType::Attachment), encodeBag(a.props, names), 0};
        std::int32_t method =
            int32Of(att.props, tags::AttachMethod,
                    a.embedded ? tags::AttachEmbeddedMessage : tags::AttachByValue);
        if (a.embedded) {
            // The embedded message is a complete message node living as a subnode of the
            // attachment; PidTagAttachDataObject points at it.
            method = 5;
            std::erase_if(att.props, [](const EncodedProp& p) {
                return mapi::propId(p.tag) == mapi::propId(tags::AttachDataBinary);
            });
            const WrittenMessage inner = writeMessage(ndb, names, rng, *a.embedded);
            const Nid innerNid = attSubs.newNid(NidType::Ltp);
            attSubs.add({innerNid, inner.data, inner.sub});
            Bytes object;
            appendLe32(object, innerNid);
            appendLe32(object, inner.size);
            setProp(att.props, tags::AttachDataObject, object);
            att.size = inner.size;
        }
        setProp(att.props, tags::AttachMethod, int32Bytes(method));
        if (!findProp(att.props, tags::RenderingPosition))
            setProp(att.props, tags::RenderingPosition, int32Bytes(-1));
        setProp(att.props, tags::AttachNumber, int32Bytes(static_cast<std::int32_t>(i)));
        setProp(att.props, tags::AttachSize, int32Bytes(0));
        att.size += propsSize(att.props);
        setProp(
            att.props, tags::AttachSize,
            int32Bytes(static_cast<std::int32_t>(std::min<std::uint64_t>(att.size, 0x7FFFFFFF))));
        attachBytes += att.size;
        const Bid data = writePropertyContext(ndb, attSubs, att.props);
        subs.add({att.nid, data, attSubs.write(ndb)});
        attachments.push_back(std::move(att));
    }

    // Recipient table: the template's columns plus every property the rows carry.
    std::vector<std::vector<EncodedProp>> rows;
    std::vector<PropTag> recipientTags;
    for (const auto& c : templates::recipients().columns)
        recipientTags.push_back(c.tag);
    std::uint64_t recipientBytes = 0;
    for (const auto& r : message.recipients) {
        auto cells = encodeBag(r.props, names);
        if (!findProp(cells, tags::ObjectType))
            setProp(cells, tags::ObjectType, int32Bytes(tags::ObjectTypeMailUser));
        if (!findProp(cells, tags::DisplayType))
            setProp(cells, tags::DisplayType, int32Bytes(tags::DisplayTypeMailUser));
        if (!findProp(cells, tags::RecipientType))
            setProp(cells, tags::RecipientType, int32Bytes(tags::RecipientTo));
        for (const auto& c : cells)
            recipientTags.push_back(c.tag);
        recipientBytes += propsSize(cells);
        rows.push_back(std::move(cells));
    }
    {
        SubnodeSet tableSubs;
        TcWriter table(ndb, TcLayout::fromTags(recipientTags), tableSubs);
        for (std::size_t i = 0; i < rows.size(); ++i)
            table.addRow(static_cast<std::uint32_t>(i), rows[i]);
        const Bid data = table.finish();
        subs.add({nids::RecipientTable, data, tableSubs.write(ndb)});
    }
    if (!attachments.empty()) {
        SubnodeSet tableSubs;
        TcWriter table(ndb, templates::attachments(), tableSubs);
        for (const auto& a : attachments)
            table.addRow(a.nid, a.props);
        const Bid data = table.finish();
        subs.add({nids::AttachmentTable, data, tableSubs.write(ndb)});
    }

    // The subject is stored in the marked form of [MS-PST] §2.5.3.1.1: U+0001, then the prefix
    // length + 1, then the text. Readers that guess at an unmarked subject (libpff drops the
    // first two bytes of one starting with a non-ASCII letter) then all show it unchanged.
    if (const EncodedProp* subject = findProp(props, tags::Subject);
        subject && subject->data.size() >= 2 && readLe16(subject->data.data()) != 0x0001) {
        std::size_t prefixChars = 0;
        if (const auto prefix = message.props.string(tags::SubjectPrefix)) {
            const Bytes p = utf16le(*prefix);
            if (!p.empty() && p.size() < subject->data.size() &&
                std::equal(p.begin(), p.end(), subject->data.begin()))
                prefixChars = p.size() / 2;
        }
        if (prefixChars < 0xFFFF) {
            Bytes marked;
            appendLe16(marked, 0x0001);
            appendLe16(marked, static_cast<std::uint16_t>(prefixChars + 1));
            appendBytes(marked, subject->data);
            setProp(props, tags::Subject, std::move(marked));
        }
    }

    // Properties the store computes or a message must have.
    const bool hasAttach = !message.attachments.empty();
    std::int32_t flags = int32Of(props, tags::MessageFlags, 0);
    flags = hasAttach ? (flags | tags::MsgFlagHasAttach) : (flags & ~tags::MsgFlagHasAttach);
    setProp(props, tags::MessageFlags, int32Bytes(flags));
    setProp(props, tags::HasAttachments, Bytes{static_cast<std::uint8_t>(hasAttach ? 1 : 0)});
    if (!findProp(props, tags::MessageClass))
        setProp(props, tags::MessageClass, utf16le("IPM.Note"));
    if (!findProp(props, tags::MessageStatus))
        setProp(props, tags::MessageStatus, int32Bytes(0));
    const EncodedProp* when = findProp(props, tags::MessageDeliveryTime);
    if (!when)
        when = findProp(props, tags::ClientSubmitTime);
    const Bytes time = when ? when->data : nowTime();
    if (!findProp(props, tags::CreationTime))
        setProp(props, tags::CreationTime, time);
    if (!findProp(props, tags::LastModificationTime))
        setProp(props, tags::LastModificationTime, time);
    if (!findProp(props, tags::SearchKey))
        setProp(props, tags::SearchKey, randomKey(rng));
    const std::pair<PropTag, std::int32_t> lists[] = {{tags::DisplayTo, tags::RecipientTo},
                                                      {tags::DisplayCc, tags::RecipientCc},
                                                      {tags::DisplayBcc, tags::RecipientBcc}};
    for (const auto& [tag, type] : lists)
        if (!findProp(props, tag))
            setProp(props, tag, utf16le(displayList(message, type)));
    setProp(props, tags::MessageSize, int32Bytes(0));
    const std::uint64_t size = propsSize(props) + recipientBytes + attachBytes;
    out.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0x7FFFFFFF));
    setProp(props, tags::MessageSize, int32Bytes(static_cast<std::int32_t>(out.size)));
    out.flags = flags;

    out.data = writePropertyContext(ndb, subs, props);
    out.sub = subs.write(ndb);
    out.props = std::move(props);
    return out;
}

} // namespace mbx::pst
