#include "mailstore/pst/messaging/templates.h"

#include "mailstore/mapi/tags.h"

namespace mbx::pst::templates {

using namespace mapi::tags;

const TcLayout& hierarchy() {
    static const TcLayout l = TcLayout::fromTags(
        {ReplItemId, ReplChangeNum, ReplVersionHistory, ReplFlags, DisplayName, ContentCount,
         ContentUnreadCount, Subfolders, ContainerClass, PstHiddenCount, PstHiddenUnread});
    return l;
}

const TcLayout& contents() {
    static const TcLayout l = TcLayout::fromTags({Importance,
                                                  MessageClass,
                                                  Sensitivity,
                                                  Subject,
                                                  ClientSubmitTime,
                                                  SentRepresentingName,
                                                  MessageToMe,
                                                  MessageCcMe,
                                                  ConversationTopic,
                                                  ConversationIndex,
                                                  DisplayCc,
                                                  DisplayTo,
                                                  MessageDeliveryTime,
                                                  MessageFlags,
                                                  MessageSize,
                                                  MessageStatus,
                                                  ReplItemId,
                                                  ReplChangeNum,
                                                  ReplVersionHistory,
                                                  ReplFlags,
                                                  ReplCopiedFromVersionHistory,
                                                  ReplCopiedFromItemId,
                                                  ItemTemporaryFlags,
                                                  LastModificationTime,
                                                  ConversationId,
                                                  SecureSubmitFlags});
    return l;
}

const TcLayout& assocContents() {
    static const TcLayout l = TcLayout::fromTags(
        {MessageClass, MessageFlags, MessageStatus, DisplayName, OfflineAddressBookName,
         SendOutlookRecallReport, OfflineAddressBookTruncatedProperties, OutlookAssocColumn682F,
         ViewDescriptorFlags, ViewDescriptorLinkTo, ViewDescriptorViewFolder, ViewDescriptorName,
         ViewDescriptorVersion});
    return l;
}

const TcLayout& searchContents() {
    static const TcLayout l = TcLayout::fromTags(
        {Importance, MessageClass, Sensitivity, Subject, SentRepresentingName, MessageToMe,
         MessageCcMe, DisplayCc, DisplayTo, ParentDisplay, MessageDeliveryTime, MessageFlags,
         MessageSize, MessageStatus, ExchangeRemoteHeader, LastModificationTime, LtpParentNid});
    return l;
}

const TcLayout& attachments() {
    static const TcLayout l =
        TcLayout::fromTags({AttachSize, AttachFilename, AttachMethod, RenderingPosition});
    return l;
}

const TcLayout& recipients() {
    static const TcLayout l = TcLayout::fromTags(
        {RecipientType, Responsibility, RecordKey, ObjectType, EntryId, DisplayName, AddressType,
         EmailAddress, SearchKey, DisplayType, DisplayName7Bit, SendRichInfo});
    return l;
}

} // namespace mbx::pst::templates
