// What a message held, in a few digests: subject, sender, recipients, dates, body texts and each
// attachment's name, size and bytes. Taken from the model the import produced and again from the
// message a data file or message file holds, through the same MessageView, so that the two can be
// compared without keeping the message.
#pragma once

#include "mailstore/mapi/property.h"
#include "mailstore/mapi/tags.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mbx::mapi {

// A value's size and digest as the stores encode it: strings as UTF-16LE without a terminator,
// numbers and times little-endian in their fixed size. {0, 0} for a value that is absent or
// empty: the .msg writer leaves empty strings out.
struct ValueDigest {
    std::uint64_t size = 0;
    std::uint64_t digest = 0;
    bool operator==(const ValueDigest&) const = default;
};

// One message as some store holds it.
class MessageView {
public:
    virtual ~MessageView() = default;
    virtual ValueDigest value(PropTag tag) const = 0;
    virtual std::size_t recipientCount() const = 0;
    virtual ValueDigest recipientValue(std::size_t row, PropTag tag) const = 0;
    virtual std::size_t attachmentCount() const = 0;
    virtual ValueDigest attachmentValue(std::size_t index, PropTag tag) const = 0;
    // The message attached as attachment `index`; null when it is not an attached message.
    virtual std::unique_ptr<MessageView> embedded(std::size_t index) const = 0;
};

struct MessagePrint {
    struct Attachment {
        std::string name; // for the report; only taken from the model
        std::uint64_t nameDigest = 0;
        std::uint64_t size = 0; // of the data, or 0 for an attached message
        std::uint64_t content = 0;
        bool embedded = false;
    };
    std::uint64_t subject = 0;
    std::uint64_t sender = 0;
    std::uint64_t recipients = 0;
    std::uint64_t date = 0;
    std::uint64_t body = 0;
    std::uint64_t html = 0;
    std::uint64_t bodyBytes = 0; // plain and HTML text together, for the report
    std::uint32_t recipientCount = 0;
    std::vector<Attachment> attachments;
};

// The values a print takes of a message, a recipient row and an attachment (a reader that
// serves prints only may leave the others unread).
inline constexpr PropTag kMessagePrintTags[] = {
    tags::Subject, tags::SenderName,       tags::SenderEmailAddress, tags::Body,
    tags::Html,    tags::ClientSubmitTime, tags::MessageDeliveryTime};
inline constexpr PropTag kRecipientPrintTags[] = {tags::RecipientType, tags::DisplayName,
                                                  tags::EmailAddress};
inline constexpr PropTag kAttachmentPrintTags[] = {tags::AttachLongFilename, tags::AttachFilename,
                                                   tags::AttachDataBinary, tags::AttachDataObject};

// The print of a stored message. `maxRows` caps the recipient rows and attachments taken, as a
// store that holds only so many does (the .msg format: 2048).
MessagePrint fingerprint(const MessageView& message, std::size_t maxRows = SIZE_MAX);
// The print of the import's model (attachment names kept for the report).
MessagePrint fingerprint(const Message& message, std::size_t maxRows = SIZE_MAX);

// What differs between the print expected and the print found, in words ("" when nothing).
std::string differences(const MessagePrint& expected, const MessagePrint& found);

// ValueDigest of stored bytes: `fixed` bytes of them for a fixed-size type, all of them else.
ValueDigest digestOf(PropType type, const std::uint8_t* data, std::size_t size);
// The ValueDigest of `tag` in properties read from a file ({0, 0} when absent).
ValueDigest storedValue(const std::map<PropTag, Bytes>& props, PropTag tag);

} // namespace mbx::mapi
