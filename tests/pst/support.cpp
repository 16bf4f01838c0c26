#include "support.h"

#include "mailstore/mapi/tags.h"

namespace psttest {

mbx::mapi::Message sampleMessage(int i, int recipients) {
    namespace tags = mbx::mapi::tags;
    mbx::mapi::Message m;
    const std::string n = std::to_string(i);
    m.props.set(tags::MessageClass, std::string("IPM.Note"));
    m.props.set(tags::Subject, "Subject number " + n);
    m.props.set(tags::SenderName, std::string("Alice Sender"));
    m.props.set(tags::SenderEmailAddress, std::string("alice@example.org"));
    m.props.set(tags::SenderAddressType, std::string("SMTP"));
    m.props.set(tags::SentRepresentingName, std::string("Alice Sender"));
    m.props.set(tags::SentRepresentingEmailAddress, std::string("alice@example.org"));
    m.props.set(tags::SentRepresentingAddressType, std::string("SMTP"));
    m.props.set(tags::ClientSubmitTime, mbx::mapi::FileTime::fromUnixSeconds(1700000000 + i));
    m.props.set(tags::MessageDeliveryTime, mbx::mapi::FileTime::fromUnixSeconds(1700000100 + i));
    m.props.set(tags::MessageFlags, std::int32_t{tags::MsgFlagRead});
    m.props.set(tags::Body, "Plain body of message " + n + "\r\nsecond line\r\n");
    const std::string html = "<html><body><p>HTML body " + n + "</p></body></html>";
    m.props.set(tags::Html, mbx::mapi::Bytes(html.begin(), html.end()));
    m.props.set(tags::InternetCodepage, std::int32_t{65001});
    m.props.set(tags::InternetMessageId, "<msg" + n + "@example.org>");
    for (int r = 0; r < recipients; ++r) {
        mbx::mapi::Recipient rec;
        const std::string rn = std::to_string(r);
        rec.props.set(tags::RecipientType, std::int32_t{r == 0 ? 1 : 2});
        rec.props.set(tags::DisplayName, "Recipient " + rn);
        rec.props.set(tags::EmailAddress, "rcpt" + rn + "@example.net");
        rec.props.set(tags::AddressType, std::string("SMTP"));
        rec.props.set(tags::SmtpAddress, "rcpt" + rn + "@example.net");
        m.recipients.push_back(std::move(rec));
    }
    return m;
}

} // namespace psttest
