#include "mailstore/mime/addresses.h"

#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/mime/common.h"

#include <utility>

namespace mbx::mime::detail {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

void appendUtf16z(Bytes& out, std::string_view utf8) {
    const Bytes b = mapi::utf16leBytes(utf8);
    out.insert(out.end(), b.begin(), b.end());
    appendLe16(out, 0);
}

// One-off entry id ([MS-OXCDATA] 2.2.5.1) with Unicode strings, as Outlook writes it for SMTP
// addresses that are not in an address book.
Bytes oneOffEntryId(std::string_view name, std::string_view address) {
    static constexpr std::uint8_t kHead[] = {0x00, 0x00, 0x00, 0x00, 0x81, 0x2B, 0x1F, 0xA4,
                                             0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD,
                                             0x01, 0x0F, 0x54, 0x02, 0x00, 0x00, 0x01, 0x80};
    Bytes out(std::begin(kHead), std::end(kHead));
    appendUtf16z(out, name);
    appendUtf16z(out, "SMTP");
    appendUtf16z(out, address);
    return out;
}

Bytes searchKey(std::string_view address) {
    const std::string key = "SMTP:" + toUpper(address);
    Bytes out(key.begin(), key.end());
    out.push_back(0);
    return out;
}

// Groups are flattened into their members. Walked with an explicit stack: damaged headers can
// nest groups thousands deep.
void collectMailboxes(InternetAddressList* top, std::vector<Mailbox>& out) {
    std::vector<std::pair<InternetAddressList*, int>> stack;
    if (top != nullptr) {
        stack.emplace_back(top, 0);
    }
    while (!stack.empty()) {
        auto& [list, index] = stack.back();
        if (index >= internet_address_list_length(list)) {
            stack.pop_back();
            continue;
        }
        InternetAddress* ia = internet_address_list_get_address(list, index++);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            if (auto* members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia))) {
                stack.emplace_back(members, 0);
            }
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            continue;
        }
        Mailbox m;
        m.address = std::string(
            trim(text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)))));
        m.name = std::string(trim(text(internet_address_get_name(ia))));
        if (m.name.empty()) {
            m.name = m.address;
        }
        if (!m.name.empty() || !m.address.empty()) {
            out.push_back(std::move(m));
        }
    }
}

std::vector<Mailbox> mailboxes(GMimeMessage* msg, GMimeAddressType type) {
    std::vector<Mailbox> out;
    collectMailboxes(g_mime_message_get_addresses(msg, type), out);
    // A header that is one bare address without any punctuation around it is taken as it
    // stands: GMime cuts odd forms such as "host!user@relay@domain" at the second '@'.
    if (out.size() != 1) {
        return out;
    }
    static constexpr const char* kNames[] = {"Sender", "From", "Reply-To", "To", "Cc", "Bcc"};
    const char* name = kNames[static_cast<int>(type) - static_cast<int>(GMIME_ADDRESS_TYPE_SENDER)];
    // The header as written; decoded (a costly step for an address header) only when it holds
    // 8-bit bytes or encoded words, where the decoded text differs from it.
    GMimeHeader* header =
        g_mime_header_list_get_header(g_mime_object_get_header_list(GMIME_OBJECT(msg)), name);
    if (header == nullptr) {
        return out;
    }
    std::string_view raw = trim(cstr(g_mime_header_get_raw_value(header)));
    std::string decoded;
    if (mapi::asciiPrefixLength(raw) < raw.size() || raw.find("=?") != std::string_view::npos) {
        decoded = text(g_mime_header_get_value(header));
        raw = trim(decoded);
    }
    if (!raw.empty() && raw.find_first_of(" \t\r\n<>,;:\"()") == std::string_view::npos &&
        raw != out[0].address && raw.find(out[0].address) != std::string_view::npos) {
        out[0].address = std::string(raw);
        out[0].name = std::string(raw);
    }
    return out;
}

void setSender(PropertyBag& bag, const Mailbox& m, bool representing) {
    using namespace tags;
    setString(bag, representing ? SentRepresentingName : SenderName, m.name);
    if (m.address.empty()) {
        return;
    }
    setString(bag, representing ? SentRepresentingAddressType : SenderAddressType, "SMTP");
    setString(bag, representing ? SentRepresentingEmailAddress : SenderEmailAddress, m.address);
    setString(bag, representing ? SentRepresentingSmtpAddress : SenderSmtpAddress, m.address);
    bag.set(representing ? SentRepresentingEntryId : SenderEntryId,
            oneOffEntryId(m.name, m.address));
    bag.set(representing ? SentRepresentingSearchKey : SenderSearchKey, searchKey(m.address));
}

void setReplyTo(PropertyBag& p, GMimeMessage* msg) {
    using namespace tags;
    const auto replyTo = mailboxes(msg, GMIME_ADDRESS_TYPE_REPLY_TO);
    if (!replyTo.empty()) {
        std::string names;
        Bytes flat(8, 0); // FlatEntryList: count, byte size, then 4-byte aligned entries
        std::uint32_t count = 0;
        for (const auto& m : replyTo) {
            if (m.address.empty()) {
                continue;
            }
            names += (names.empty() ? "" : "; ") + m.name;
            const Bytes id = oneOffEntryId(m.name, m.address);
            appendLe32(flat, static_cast<std::uint32_t>(id.size()));
            flat.insert(flat.end(), id.begin(), id.end());
            while (flat.size() % 4 != 0) {
                flat.push_back(0);
            }
            ++count;
        }
        if (count > 0) {
            writeLe32(flat.data(), count);
            writeLe32(flat.data() + 4, static_cast<std::uint32_t>(flat.size() - 8));
            setString(p, ReplyRecipientNames, names);
            p.set(ReplyRecipientEntries, std::move(flat));
        }
    }
}

void addRecipients(Message& out, GMimeMessage* msg) {
    using namespace tags;
    PropertyBag& p = out.props;
    const struct {
        GMimeAddressType type;
        std::int32_t rtype;
        mapi::PropTag display;
    } kinds[] = {{GMIME_ADDRESS_TYPE_TO, 1, DisplayTo},
                 {GMIME_ADDRESS_TYPE_CC, 2, DisplayCc},
                 {GMIME_ADDRESS_TYPE_BCC, 3, DisplayBcc}};
    for (const auto& kind : kinds) {
        std::string display;
        for (const auto& m : mailboxes(msg, kind.type)) {
            mapi::Recipient r;
            r.props.set(RecipientType, kind.rtype);
            setString(r.props, DisplayName, m.name);
            setString(r.props, RecipientDisplayName, m.name);
            if (!m.address.empty()) {
                setString(r.props, AddressType, "SMTP");
                setString(r.props, EmailAddress, m.address);
                setString(r.props, SmtpAddress, m.address);
                r.props.set(EntryId, oneOffEntryId(m.name, m.address));
                r.props.set(SearchKey, searchKey(m.address));
            }
            r.props.set(RowId, static_cast<std::int32_t>(out.recipients.size()));
            r.props.set(ObjectType, ObjectTypeMailUser);
            r.props.set(DisplayType, std::int32_t{0});
            r.props.set(RecipientFlags, std::int32_t{1});
            display += (display.empty() ? "" : "; ") + m.name;
            out.recipients.push_back(std::move(r));
        }
        setString(p, kind.display, display);
    }
}

} // namespace mbx::mime::detail
