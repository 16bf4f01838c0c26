// Property tags used by this program ([MS-OXPROPS] canonical names in comments).
#pragma once

#include "mailstore/mapi/property.h"

namespace mbx::mapi::tags {

using enum PropType;

// Message
inline constexpr PropTag MessageClass = makeTag(0x001A, Unicode);      // PidTagMessageClass
inline constexpr PropTag Subject = makeTag(0x0037, Unicode);           // PidTagSubject
inline constexpr PropTag SubjectPrefix = makeTag(0x003D, Unicode);     // PidTagSubjectPrefix
inline constexpr PropTag NormalizedSubject = makeTag(0x0E1D, Unicode); // PidTagNormalizedSubject
inline constexpr PropTag ConversationTopic = makeTag(0x0070, Unicode); // PidTagConversationTopic
inline constexpr PropTag Importance = makeTag(0x0017, Int32);          // PidTagImportance
inline constexpr PropTag Priority = makeTag(0x0026, Int32);            // PidTagPriority
inline constexpr PropTag Sensitivity = makeTag(0x0036, Int32);         // PidTagSensitivity
inline constexpr PropTag ClientSubmitTime = makeTag(0x0039, SysTime);  // PidTagClientSubmitTime
inline constexpr PropTag MessageDeliveryTime =
    makeTag(0x0E06, SysTime);                                     // PidTagMessageDeliveryTime
inline constexpr PropTag CreationTime = makeTag(0x3007, SysTime); // PidTagCreationTime
inline constexpr PropTag LastModificationTime =
    makeTag(0x3008, SysTime);                                       // PidTagLastModificationTime
inline constexpr PropTag MessageFlags = makeTag(0x0E07, Int32);     // PidTagMessageFlags
inline constexpr PropTag MessageSize = makeTag(0x0E08, Int32);      // PidTagMessageSize
inline constexpr PropTag HasAttachments = makeTag(0x0E1B, Boolean); // PidTagHasAttachments
inline constexpr PropTag DisplayTo = makeTag(0x0E04, Unicode);      // PidTagDisplayTo
inline constexpr PropTag DisplayCc = makeTag(0x0E03, Unicode);      // PidTagDisplayCc
inline constexpr PropTag DisplayBcc = makeTag(0x0E02, Unicode);     // PidTagDisplayBcc
inline constexpr PropTag Body = makeTag(0x1000, Unicode);           // PidTagBody
inline constexpr PropTag Html = makeTag(0x1013, Binary);            // PidTagHtml
inline constexpr PropTag InternetCodepage = makeTag(0x3FDE, Int32); // PidTagInternetCodepage
inline constexpr PropTag MessageCodepage = makeTag(0x3FFD, Int32);  // PidTagMessageCodepage
inline constexpr PropTag TransportMessageHeaders =
    makeTag(0x007D, Unicode); // PidTagTransportMessageHeaders
inline constexpr PropTag InternetMessageId = makeTag(0x1035, Unicode);  // PidTagInternetMessageId
inline constexpr PropTag InReplyToId = makeTag(0x1042, Unicode);        // PidTagInReplyToId
inline constexpr PropTag InternetReferences = makeTag(0x1039, Unicode); // PidTagInternetReferences
inline constexpr PropTag StoreSupportMask = makeTag(0x340D, Int32);     // PidTagStoreSupportMask

// Sender and sent-representing
inline constexpr PropTag SenderName = makeTag(0x0C1A, Unicode);         // PidTagSenderName
inline constexpr PropTag SenderEmailAddress = makeTag(0x0C1F, Unicode); // PidTagSenderEmailAddress
inline constexpr PropTag SenderAddressType = makeTag(0x0C1E, Unicode);  // PidTagSenderAddressType
inline constexpr PropTag SenderSmtpAddress = makeTag(0x5D01, Unicode);  // PidTagSenderSmtpAddress
inline constexpr PropTag SenderEntryId = makeTag(0x0C19, Binary);       // PidTagSenderEntryId
inline constexpr PropTag SenderSearchKey = makeTag(0x0C1D, Binary);     // PidTagSenderSearchKey
inline constexpr PropTag SentRepresentingName =
    makeTag(0x0042, Unicode); // PidTagSentRepresentingName
inline constexpr PropTag SentRepresentingEmailAddress = makeTag(0x0065, Unicode);
inline constexpr PropTag SentRepresentingAddressType = makeTag(0x0064, Unicode);
inline constexpr PropTag SentRepresentingSmtpAddress = makeTag(0x5D02, Unicode);
inline constexpr PropTag SentRepresentingEntryId = makeTag(0x0041, Binary);
inline constexpr PropTag SentRepresentingSearchKey = makeTag(0x003B, Binary);

// Recipient rows
inline constexpr PropTag RecipientType =
    makeTag(0x0C15, Int32); // PidTagRecipientType (1 To, 2 Cc, 3 Bcc)
inline constexpr PropTag DisplayName = makeTag(0x3001, Unicode);    // PidTagDisplayName
inline constexpr PropTag AddressType = makeTag(0x3002, Unicode);    // PidTagAddressType
inline constexpr PropTag EmailAddress = makeTag(0x3003, Unicode);   // PidTagEmailAddress
inline constexpr PropTag SmtpAddress = makeTag(0x39FE, Unicode);    // PidTagSmtpAddress
inline constexpr PropTag EntryId = makeTag(0x0FFF, Binary);         // PidTagEntryId
inline constexpr PropTag SearchKey = makeTag(0x300B, Binary);       // PidTagSearchKey
inline constexpr PropTag RowId = makeTag(0x3000, Int32);            // PidTagRowid
inline constexpr PropTag ObjectType = makeTag(0x0FFE, Int32);       // PidTagObjectType
inline constexpr PropTag DisplayType = makeTag(0x3900, Int32);      // PidTagDisplayType
inline constexpr PropTag RecipientFlags = makeTag(0x5FFD, Int32);   // PidTagRecipientFlags
inline constexpr PropTag Responsibility = makeTag(0x0E0F, Boolean); // PidTagResponsibility
inline constexpr PropTag RecipientDisplayName =
    makeTag(0x5FF6, Unicode);                                     // PidTagRecipientDisplayName
inline constexpr PropTag SendRichInfo = makeTag(0x3A40, Boolean); // PidTagSendRichInfo

// Attachments
inline constexpr PropTag AttachMethod =
    makeTag(0x3705, Int32); // PidTagAttachMethod (1 by value, 5 embedded)
inline constexpr PropTag AttachDataBinary = makeTag(0x3701, Binary);    // PidTagAttachDataBinary
inline constexpr PropTag AttachDataObject = makeTag(0x3701, Object);    // PidTagAttachDataObject
inline constexpr PropTag AttachFilename = makeTag(0x3704, Unicode);     // PidTagAttachFilename
inline constexpr PropTag AttachLongFilename = makeTag(0x3707, Unicode); // PidTagAttachLongFilename
inline constexpr PropTag AttachExtension = makeTag(0x3703, Unicode);    // PidTagAttachExtension
inline constexpr PropTag AttachMimeTag = makeTag(0x370E, Unicode);      // PidTagAttachMimeTag
inline constexpr PropTag AttachContentId = makeTag(0x3712, Unicode);    // PidTagAttachContentId
inline constexpr PropTag AttachContentLocation =
    makeTag(0x3713, Unicode);                                         // PidTagAttachContentLocation
inline constexpr PropTag AttachFlags = makeTag(0x3714, Int32);        // PidTagAttachFlags
inline constexpr PropTag AttachmentHidden = makeTag(0x7FFE, Boolean); // PidTagAttachmentHidden
inline constexpr PropTag AttachSize = makeTag(0x0E20, Int32);         // PidTagAttachSize
inline constexpr PropTag AttachNumber = makeTag(0x0E21, Int32);       // PidTagAttachNumber
inline constexpr PropTag RenderingPosition = makeTag(0x370B, Int32);  // PidTagRenderingPosition

// Reply-to, receipts and display hints (added for the Internet-mail import)
inline constexpr PropTag ReplyRecipientNames =
    makeTag(0x0050, Unicode); // PidTagReplyRecipientNames
inline constexpr PropTag ReplyRecipientEntries =
    makeTag(0x004F, Binary); // PidTagReplyRecipientEntries
inline constexpr PropTag ReadReceiptRequested =
    makeTag(0x0029, Boolean); // PidTagReadReceiptRequested
inline constexpr PropTag OriginatorDeliveryReportRequested = makeTag(0x0023, Boolean);
inline constexpr PropTag NativeBody = makeTag(0x1016, Int32); // PidTagNativeBody
inline constexpr PropTag IconIndex = makeTag(0x1080, Int32);  // PidTagIconIndex

// Message flags (PidTagMessageFlags)
inline constexpr std::int32_t MsgFlagRead = 0x01;
inline constexpr std::int32_t MsgFlagUnsent = 0x08;
inline constexpr std::int32_t MsgFlagHasAttach = 0x10;

} // namespace mbx::mapi::tags
