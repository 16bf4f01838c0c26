#include "mailstore/mapi/fingerprint.h"

#include "mailstore/mapi/digest.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"

#include <algorithm>

namespace mbx::mapi {

namespace {

std::size_t fixedSize(PropType type) {
    switch (type) {
    case PropType::Int16:
        return 2;
    case PropType::Int32:
    case PropType::Error:
        return 4;
    case PropType::Boolean:
        return 1;
    case PropType::Int64:
    case PropType::Currency:
    case PropType::Double:
    case PropType::AppTime:
    case PropType::SysTime:
        return 8;
    default:
        return 0;
    }
}

ValueDigest digestOfModel(PropType type, const Value& value) {
    std::uint8_t number[8] = {};
    std::uint64_t bits = 0;
    if (const auto* text = std::get_if<std::string>(&value); text && fixedSize(type) == 0) {
        // Widened to UTF-16 a piece at a time, as digestOf() would take the whole.
        std::uint8_t piece[4096];
        Digest d;
        std::uint64_t size = 0;
        for (std::size_t at = 0; at < text->size();) {
            const std::size_t n = utf16lePiece(*text, at, piece, sizeof piece);
            d.add(std::span<const std::uint8_t>(piece, n));
            size += n;
        }
        return size > 0 ? ValueDigest{size, d.value()} : ValueDigest{};
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        const auto bytes = utf16leBytes(*text);
        return digestOf(type, bytes.data(), bytes.size());
    }
    if (const auto* bytes = std::get_if<Bytes>(&value)) {
        return digestOf(type, bytes->data(), bytes->size());
    }
    if (const auto* v = std::get_if<std::int32_t>(&value)) {
        bits = static_cast<std::uint32_t>(*v);
    } else if (const auto* t = std::get_if<FileTime>(&value)) {
        bits = t->ticks;
    } else if (const auto* w = std::get_if<std::int64_t>(&value)) {
        bits = static_cast<std::uint64_t>(*w);
    } else if (const auto* s = std::get_if<std::int16_t>(&value)) {
        bits = static_cast<std::uint16_t>(*s);
    } else if (const auto* b = std::get_if<bool>(&value)) {
        bits = *b ? 1 : 0;
    } else {
        return {}; // not a type a print takes
    }
    for (int i = 0; i < 8; ++i) {
        number[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    return digestOf(type, number, 8);
}

ValueDigest bagValue(const PropertyBag& bag, PropTag tag) {
    const Value* value = bag.find(tag);
    return value != nullptr ? digestOfModel(propType(tag), *value) : ValueDigest{};
}

// The import's model as a MessageView.
class ModelView : public MessageView {
public:
    explicit ModelView(const Message& m) : m_(m) {}
    ValueDigest value(PropTag tag) const override { return bagValue(m_.props, tag); }
    std::size_t recipientCount() const override { return m_.recipients.size(); }
    ValueDigest recipientValue(std::size_t row, PropTag tag) const override {
        return bagValue(m_.recipients[row].props, tag);
    }
    std::size_t attachmentCount() const override { return m_.attachments.size(); }
    ValueDigest attachmentValue(std::size_t index, PropTag tag) const override {
        return bagValue(m_.attachments[index].props, tag);
    }
    std::unique_ptr<MessageView> embedded(std::size_t index) const override {
        const auto& inner = m_.attachments[index].embedded;
        return inner ? std::make_unique<ModelView>(*inner) : nullptr;
    }

private:
    const Message& m_;
};

void add(Digest& d, const ValueDigest& v) {
    d.add(v.size).add(v.digest);
}

std::uint64_t digestOfPrint(const MessagePrint& p) {
    Digest d;
    d.add(p.subject).add(p.sender).add(p.recipients).add(p.date).add(p.body).add(p.html);
    d.add(std::uint64_t{p.recipientCount}).add(std::uint64_t{p.attachments.size()});
    for (const auto& a : p.attachments) {
        d.add(a.nameDigest).add(a.size).add(a.content);
    }
    return d.value();
}

std::string attachmentLabel(std::size_t i, const MessagePrint::Attachment& a) {
    return "attachment " + std::to_string(i + 1) + (a.name.empty() ? "" : " \"" + a.name + "\"");
}

} // namespace

ValueDigest digestOf(PropType type, const std::uint8_t* data, std::size_t size) {
    if (const std::size_t fixed = fixedSize(type); fixed > 0) {
        size = std::min(size, fixed);
    }
    if (size == 0) {
        return {};
    }
    return {size, Digest::of(std::span(data, size))};
}

ValueDigest storedValue(const std::map<PropTag, Bytes>& props, PropTag tag) {
    const auto it = props.find(tag);
    return it != props.end() ? digestOf(propType(tag), it->second.data(), it->second.size())
                             : ValueDigest{};
}

MessagePrint fingerprint(const MessageView& m, std::size_t maxRows) {
    namespace t = tags;
    MessagePrint p;
    p.subject = m.value(t::Subject).digest;
    Digest sender;
    add(sender, m.value(t::SenderName));
    add(sender, m.value(t::SenderEmailAddress));
    p.sender = sender.value();
    Digest date;
    add(date, m.value(t::ClientSubmitTime));
    add(date, m.value(t::MessageDeliveryTime));
    p.date = date.value();
    const auto body = m.value(t::Body);
    const auto html = m.value(t::Html);
    p.body = body.digest;
    p.html = html.digest;
    p.bodyBytes = body.size + html.size;

    const std::size_t rows = std::min(m.recipientCount(), maxRows);
    p.recipientCount = static_cast<std::uint32_t>(rows);
    Digest recipients;
    const std::uint8_t to[4] = {static_cast<std::uint8_t>(t::RecipientTo), 0, 0, 0};
    for (std::size_t r = 0; r < rows; ++r) {
        auto type = m.recipientValue(r, t::RecipientType);
        // A row without a type is a To row: the data file stores it as one.
        add(recipients, type.size > 0 ? type : digestOf(PropType::Int32, to, 4));
        add(recipients, m.recipientValue(r, t::DisplayName));
        add(recipients, m.recipientValue(r, t::EmailAddress));
    }
    p.recipients = recipients.value();

    const std::size_t attachments = std::min(m.attachmentCount(), maxRows);
    for (std::size_t i = 0; i < attachments; ++i) {
        MessagePrint::Attachment a;
        Digest name;
        add(name, m.attachmentValue(i, t::AttachLongFilename));
        add(name, m.attachmentValue(i, t::AttachFilename));
        a.nameDigest = name.value();
        if (const auto inner = m.embedded(i)) {
            a.embedded = true;
            a.content = digestOfPrint(fingerprint(*inner, maxRows));
        } else {
            const auto data = m.attachmentValue(i, t::AttachDataBinary);
            a.size = data.size;
            a.content = data.digest;
        }
        p.attachments.push_back(std::move(a));
    }
    return p;
}

MessagePrint fingerprint(const Message& message, std::size_t maxRows) {
    auto p = fingerprint(ModelView(message), maxRows);
    for (std::size_t i = 0; i < p.attachments.size(); ++i) {
        const auto& props = message.attachments[i].props;
        p.attachments[i].name = props.string(tags::AttachLongFilename)
                                    .value_or(props.string(tags::AttachFilename).value_or(""));
    }
    return p;
}

std::string differences(const MessagePrint& expected, const MessagePrint& found) {
    std::vector<std::string> what;
    if (expected.subject != found.subject) {
        what.emplace_back("subject differs");
    }
    if (expected.sender != found.sender) {
        what.emplace_back("sender differs");
    }
    if (expected.recipientCount != found.recipientCount) {
        what.push_back(std::to_string(expected.recipientCount) + " recipients written, " +
                       std::to_string(found.recipientCount) + " found");
    } else if (expected.recipients != found.recipients) {
        what.emplace_back("recipients differ");
    }
    if (expected.date != found.date) {
        what.emplace_back("date differs");
    }
    if (expected.body != found.body) {
        what.emplace_back("plain-text body differs");
    }
    if (expected.html != found.html) {
        what.emplace_back("HTML body differs");
    }
    const auto& want = expected.attachments;
    const auto& got = found.attachments;
    if (want.size() != got.size()) {
        what.push_back(std::to_string(want.size()) + " attachments written, " +
                       std::to_string(got.size()) + " found");
    }
    for (std::size_t i = 0; i < std::min(want.size(), got.size()); ++i) {
        const auto label = attachmentLabel(i, want[i]);
        if (want[i].nameDigest != got[i].nameDigest) {
            what.push_back(label + ": name differs");
        }
        if (want[i].embedded != got[i].embedded) {
            what.push_back(label + (want[i].embedded ? ": the attached message is missing"
                                                     : ": found as an attached message"));
        } else if (want[i].size != got[i].size) {
            what.push_back(label + ": " + std::to_string(want[i].size) + " bytes written, " +
                           std::to_string(got[i].size) + " found");
        } else if (want[i].content != got[i].content) {
            what.push_back(
                label + (want[i].embedded ? ": the attached message differs" : ": bytes differ"));
        }
    }
    std::string out;
    for (const auto& w : what) {
        out += (out.empty() ? "" : "; ") + w;
    }
    return out;
}

} // namespace mbx::mapi
