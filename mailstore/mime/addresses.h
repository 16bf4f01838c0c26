// Addresses of the sender and recipients as MAPI stores them, with one-off entry ids and search
// keys for SMTP addresses that are in no address book.
#pragma once

#include "mailstore/mapi/property.h"

#include <gmime/gmime.h>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime::detail {

struct Mailbox {
    std::string name;    // display name, else the address
    std::string address; // may be empty for broken addresses such as "<>"
};

mapi::Bytes oneOffEntryId(std::string_view name, std::string_view address);
mapi::Bytes searchKey(std::string_view address);
// The mailboxes of one address header, groups flattened into their members.
std::vector<Mailbox> mailboxes(GMimeMessage* msg, GMimeAddressType type);
// PidTagSentRepresenting* (`representing`) or PidTagSender* for the mailbox.
void setSender(mapi::PropertyBag& bag, const Mailbox& m, bool representing);
// PidTagReplyRecipientNames and PidTagReplyRecipientEntries from Reply-To.
void setReplyTo(mapi::PropertyBag& p, GMimeMessage* msg);
// Recipient rows and PidTagDisplayTo/Cc/Bcc from To, Cc and Bcc.
void addRecipients(mapi::Message& out, GMimeMessage* msg);

} // namespace mbx::mime::detail
