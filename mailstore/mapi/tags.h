// Property tags and the values of flag and enumeration properties used by this program. Every tag
// is an [MS-OXPROPS] property (canonical name in the comment) unless its group says otherwise; the
// groups name the document section that says where and how the store files use them.
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
inline constexpr PropTag NativeBody = makeTag(0x1016, Int32);       // PidTagNativeBody
inline constexpr PropTag IconIndex = makeTag(0x1080, Int32);        // PidTagIconIndex
inline constexpr PropTag LastVerbExecuted = makeTag(0x1081, Int32); // PidTagLastVerbExecuted

// Columns of the folder tables ([MS-PST] §2.4.4.4 to §2.4.4.6, the templates of §2.4.4.5.1)
inline constexpr PropTag MessageStatus = makeTag(0x0E17, Int32);      // PidTagMessageStatus
inline constexpr PropTag MessageToMe = makeTag(0x0057, Boolean);      // PidTagMessageToMe
inline constexpr PropTag MessageCcMe = makeTag(0x0058, Boolean);      // PidTagMessageCcMe
inline constexpr PropTag ConversationIndex = makeTag(0x0071, Binary); // PidTagConversationIndex
inline constexpr PropTag ConversationId = makeTag(0x3013, Binary);    // PidTagConversationId
inline constexpr PropTag ItemTemporaryFlags = makeTag(0x1097, Int32); // PidTagItemTemporaryFlags
inline constexpr PropTag SecureSubmitFlags = makeTag(0x65C6, Int32);  // PidTagSecureSubmitFlags
inline constexpr PropTag ParentDisplay = makeTag(0x0E05, Unicode);    // PidTagParentDisplay
inline constexpr PropTag ExchangeRemoteHeader =
    makeTag(0x0E2A, Boolean);                                 // PidTagExchangeRemoteHeader
inline constexpr PropTag RecordKey = makeTag(0x0FF9, Binary); // PidTagRecordKey
inline constexpr PropTag DisplayName7Bit =
    makeTag(0x39FF, Unicode); // PidTagAddressBookDisplayNamePrintable
// Replication columns
inline constexpr PropTag ReplItemId = makeTag(0x0E30, Binary);         // PidTagReplItemid
inline constexpr PropTag ReplChangeNum = makeTag(0x0E33, Int64);       // PidTagReplChangenum
inline constexpr PropTag ReplVersionHistory = makeTag(0x0E34, Binary); // PidTagReplVersionhistory
inline constexpr PropTag ReplFlags = makeTag(0x0E38, Int32);           // PidTagReplFlags
inline constexpr PropTag ReplCopiedFromVersionHistory = makeTag(0x0E3C, Binary);
inline constexpr PropTag ReplCopiedFromItemId =
    makeTag(0x0E3D, Binary); // PidTagReplCopiedfromItemid
// Associated (FAI) contents: offline address book and view descriptors (PidTag + the name)
inline constexpr PropTag OfflineAddressBookName = makeTag(0x6800, Unicode);
inline constexpr PropTag SendOutlookRecallReport = makeTag(0x6803, Boolean);
inline constexpr PropTag OfflineAddressBookTruncatedProperties = makeTag(0x6805, MvInt32);
// A column of the associated contents template in Outlook's own blank store; [MS-PST] does not
// list it and [MS-OXPROPS] gives 0x682F no name.
inline constexpr PropTag OutlookAssocColumn682F = makeTag(0x682F, Unicode);
inline constexpr PropTag ViewDescriptorFlags = makeTag(0x7003, Int32); // PidTagViewDescriptorFlags
inline constexpr PropTag ViewDescriptorLinkTo =
    makeTag(0x7004, Binary); // PidTagViewDescriptorLinkTo
inline constexpr PropTag ViewDescriptorViewFolder = makeTag(0x7005, Binary);
inline constexpr PropTag ViewDescriptorName = makeTag(0x7006, Unicode); // PidTagViewDescriptorName
inline constexpr PropTag ViewDescriptorVersion =
    makeTag(0x7007, Int32); // PidTagViewDescriptorVersion

// Folders ([MS-PST] §2.4.4.1, hierarchy table columns §2.4.4.4)
inline constexpr PropTag ContentCount = makeTag(0x3602, Int32);       // PidTagContentCount
inline constexpr PropTag ContentUnreadCount = makeTag(0x3603, Int32); // PidTagContentUnreadCount
inline constexpr PropTag Subfolders = makeTag(0x360A, Boolean);       // PidTagSubfolders
inline constexpr PropTag ContainerClass = makeTag(0x3613, Unicode);   // PidTagContainerClass
inline constexpr PropTag Comment = makeTag(0x3004, Unicode);          // PidTagComment
inline constexpr PropTag PstHiddenCount = makeTag(0x6635, Int32);     // PidTagPstHiddenCount
inline constexpr PropTag PstHiddenUnread = makeTag(0x6636, Int32);    // PidTagPstHiddenUnread

// The message store object ([MS-PST] §2.4.3.1)
inline constexpr PropTag ValidFolderMask = makeTag(0x35DF, Int32);    // PidTagValidFolderMask
inline constexpr PropTag IpmSubtreeEntryId = makeTag(0x35E0, Binary); // PidTagIpmSubtreeEntryId
inline constexpr PropTag IpmWastebasketEntryId = makeTag(0x35E3, Binary);
inline constexpr PropTag CommonViewsEntryId = makeTag(0x35E6, Binary); // PidTagCommonViewsEntryId
inline constexpr PropTag FinderEntryId = makeTag(0x35E7, Binary);      // PidTagFinderEntryId
inline constexpr PropTag PstLrNoRestrictions = makeTag(0x6633, Boolean);
inline constexpr PropTag LatestPstEnsure = makeTag(0x66FA, Int32); // PidTagLatestPstEnsure
inline constexpr PropTag PstPassword = makeTag(0x67FF, Int32);     // PidTagPstPassword

// PST-internal properties ([MS-PST] §2.3.4 table rows, §2.4.8 search)
inline constexpr PropTag LtpParentNid = makeTag(0x67F1, Int32); // PidTagLtpParentNid
inline constexpr PropTag LtpRowId = makeTag(0x67F2, Int32);     // PidTagLtpRowId
inline constexpr PropTag LtpRowVer = makeTag(0x67F3, Int32);    // PidTagLtpRowVer
// The one property of the search criteria object Outlook's blank store holds (value 0); neither
// [MS-PST] nor [MS-OXPROPS] names 0x660B.
inline constexpr PropTag SearchCriteria660B = makeTag(0x660B, Int32);

// The name-to-ID map ([MS-PST] §2.4.7; the .msg file keeps the same streams, [MS-OXMSG] §2.2.3)
inline constexpr PropTag NameidBucketCount = makeTag(0x0001, Int32);   // PidTagNameidBucketCount
inline constexpr PropTag NameidStreamGuid = makeTag(0x0002, Binary);   // PidTagNameidStreamGuid
inline constexpr PropTag NameidStreamEntry = makeTag(0x0003, Binary);  // PidTagNameidStreamEntry
inline constexpr PropTag NameidStreamString = makeTag(0x0004, Binary); // PidTagNameidStreamString
// Bucket b of the hash table is this property id plus b ([MS-PST] §2.4.7).
inline constexpr std::uint16_t NameidFirstBucketId = 0x1000;
// Named properties take ids from here up (NPID = 0x8000 + index, [MS-PST] §2.4.7).
inline constexpr std::uint16_t FirstNamedPropId = 0x8000;

// Message flags (PidTagMessageFlags, [MS-OXCMSG] §2.2.1.6)
inline constexpr std::int32_t MsgFlagRead = 0x01;
inline constexpr std::int32_t MsgFlagUnsent = 0x08;
inline constexpr std::int32_t MsgFlagHasAttach = 0x10;

// Values of PidTagLastVerbExecuted and PidTagIconIndex ([MS-OXOMSG], [MS-OXPROPS])
inline constexpr std::int32_t VerbReplyToSender = 102;
inline constexpr std::int32_t VerbForward = 104;
inline constexpr std::int32_t IconReadMail = 0x100;
inline constexpr std::int32_t IconUnreadMail = 0x101;
inline constexpr std::int32_t IconSubmittedMail = 0x102;
inline constexpr std::int32_t IconUnsentMail = 0x103;
inline constexpr std::int32_t IconRepliedMail = 0x105;
inline constexpr std::int32_t IconForwardedMail = 0x106;

// PidTagRecipientType values ([MS-OXOMSG] §2.2.3.1)
inline constexpr std::int32_t RecipientTo = 1;
inline constexpr std::int32_t RecipientCc = 2;
inline constexpr std::int32_t RecipientBcc = 3;

// PidTagAttachMethod values ([MS-OXCMSG] §2.2.2.9)
inline constexpr std::int32_t AttachByValue = 1;
inline constexpr std::int32_t AttachEmbeddedMessage = 5;

// PidTagDisplayType value of a messaging user ([MS-OXPROPS] PidTagDisplayType, DT_MAILUSER)
inline constexpr std::int32_t DisplayTypeMailUser = 0;

// PidTagObjectType values (MAPI's object types, [MS-OXPROPS] PidTagObjectType): the kind of
// object a row or an embedded object stands for.
inline constexpr std::int32_t ObjectTypeMessage = 5;  // MAPI_MESSAGE
inline constexpr std::int32_t ObjectTypeMailUser = 6; // MAPI_MAILUSER, a recipient
inline constexpr std::int32_t ObjectTypeAttach = 7;   // MAPI_ATTACH

// PidTagAttachFlags values ([MS-OXCMSG] §2.2.2.18)
inline constexpr std::int32_t AttachFlagInvisibleInHtml = 0x01;
inline constexpr std::int32_t AttachFlagInvisibleInRtf = 0x02;
inline constexpr std::int32_t AttachFlagRenderedInBody = 0x04; // ATT_MHTML_REF

// PidTagValidFolderMask bits ([MS-PST] §2.4.3.1)
inline constexpr std::int32_t ValidIpmSubtree = 0x01;
inline constexpr std::int32_t ValidWastebasket = 0x08;
inline constexpr std::int32_t ValidCommonViews = 0x40;
inline constexpr std::int32_t ValidFinder = 0x80;

// PidTagStoreSupportMask bit: the store takes Unicode strings (MAPI's STORE_UNICODE_OK)
inline constexpr std::int32_t StoreUnicodeOk = 0x00040000;

// Property attributes in the property stream of an .msg file ([MS-OXMSG] §2.4.2.1)
inline constexpr std::uint32_t PropAttrReadable = 0x02;
inline constexpr std::uint32_t PropAttrWritable = 0x04;

} // namespace mbx::mapi::tags
