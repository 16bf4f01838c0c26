// The import's model on any input: every string well-formed UTF-8 and not empty, values of the
// type their tag names, rows and attachments numbered in order, and the attachment flags, sizes
// and methods agreeing with what the message holds.
#include "harness.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"
#include "mailstore/mime/import.h"

#include <algorithm>
#include <span>

namespace {

using namespace mbx;
namespace tags = mapi::tags;
using fuzz::check;

std::string hex(mapi::PropTag tag) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(tag));
    return buf;
}

void checkString(const std::string& s, mapi::PropTag tag) {
    check(!s.empty(), "empty string in " + hex(tag));
    check(mime::isUtf8(s), "not UTF-8 in " + hex(tag));
}

void checkBag(const mapi::PropertyBag& bag) {
    for (const auto& [tag, value] : bag.properties()) {
        check(mapi::valueMatchesType(mapi::propType(tag), value), "value type of " + hex(tag));
        if (const auto* s = std::get_if<std::string>(&value)) {
            checkString(*s, tag);
        } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
            for (const auto& item : *list) {
                checkString(item, tag);
            }
        }
    }
    for (const auto& [key, named] : bag.named()) {
        check(mapi::valueMatchesType(named.type, named.value), "named value type");
        if (const auto* s = std::get_if<std::string>(&named.value)) {
            checkString(*s, 0);
        }
    }
}

void checkMessage(const mapi::Message& m) {
    checkBag(m.props);
    check(m.props.string(tags::MessageClass) == "IPM.Note", "message class");
    const auto* has = m.props.find(tags::HasAttachments);
    check(has != nullptr && std::get<bool>(*has) == !m.attachments.empty(), "has attachments");
    const auto flags = m.props.int32(tags::MessageFlags).value_or(0);
    check(((flags & tags::MsgFlagHasAttach) != 0) == !m.attachments.empty(), "message flags");
    // Windows line ends and no NUL in the plain body: readers cut strings at a NUL.
    const std::string body = m.props.string(tags::Body).value_or("");
    for (std::size_t i = 0; i < body.size(); ++i) {
        check(body[i] != '\0', "NUL in body");
        check(body[i] != '\n' || (i > 0 && body[i - 1] == '\r'), "bare LF in body");
    }
    for (std::size_t i = 0; i < m.recipients.size(); ++i) {
        const auto& r = m.recipients[i].props;
        checkBag(r);
        check(r.int32(tags::RowId) == static_cast<std::int32_t>(i), "recipient row id");
        const auto type = r.int32(tags::RecipientType).value_or(0);
        check(type >= 1 && type <= 3, "recipient type");
    }
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        const auto& a = m.attachments[i];
        checkBag(a.props);
        check(a.props.int32(tags::AttachNumber) == static_cast<std::int32_t>(i),
              "attachment number");
        const auto method = a.props.int32(tags::AttachMethod).value_or(0);
        check((method == 5) == (a.embedded != nullptr), "attach method");
        if (a.embedded) {
            checkMessage(*a.embedded);
            continue;
        }
        check(method == 1, "attach method");
        const auto* data = a.props.find(tags::AttachDataBinary);
        check(data != nullptr, "attachment data");
        const auto size = std::get<mapi::Bytes>(*data).size();
        check(a.props.int32(tags::AttachSize) ==
                  static_cast<std::int32_t>(std::min<std::size_t>(size, 0x7FFFFFFF)),
              "attachment size");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkMessage(mime::importRfc822(std::as_bytes(std::span(data, size))));
    return 0;
}
