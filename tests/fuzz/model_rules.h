// The rules the import's model keeps on any input: every string well-formed UTF-8 and not empty,
// values of the type their tag names, rows and attachments numbered in order, and the attachment
// flags, sizes and methods agreeing with what the message holds. `check(ok, what)` reports a
// broken rule: the fuzz harness aborts, the import tests record a failure.
#pragma once

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/charset.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

namespace mbx::testing {

using RuleCheck = std::function<void(bool ok, const std::string& what)>;

inline void checkModel(const mapi::Message& m, const RuleCheck& check) {
    namespace tags = mapi::tags;
    const auto checkString = [&](const std::string& s, mapi::PropTag tag) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(tag));
        check(!s.empty(), std::string("empty string in ") + hex);
        check(mime::isUtf8(s), std::string("not UTF-8 in ") + hex);
    };
    const auto checkBag = [&](const mapi::PropertyBag& bag) {
        for (const auto& [tag, value] : bag.properties()) {
            check(mapi::valueMatchesType(mapi::propType(tag), value), "value type");
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
    };
    checkBag(m.props);
    check(m.props.string(tags::MessageClass) == "IPM.Note", "message class");
    const auto* has = m.props.find(tags::HasAttachments);
    check(has != nullptr && std::get<bool>(*has) == !m.attachments.empty(), "has attachments");
    const auto flags = m.props.int32(tags::MessageFlags).value_or(0);
    check(((flags & tags::MsgFlagHasAttach) != 0) == !m.attachments.empty(), "message flags");
    check((flags & tags::MsgFlagUnsent) == 0, "flagged unsent");
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
            checkModel(*a.embedded, check);
            continue;
        }
        check(method == 1, "attach method");
        const auto* data = a.props.find(tags::AttachDataBinary);
        check(data != nullptr, "attachment data");
        const auto size = data ? std::get<mapi::Bytes>(*data).size() : 0;
        check(a.props.int32(tags::AttachSize) ==
                  static_cast<std::int32_t>(std::min<std::size_t>(size, 0x7FFFFFFF)),
              "attachment size");
    }
}

} // namespace mbx::testing
