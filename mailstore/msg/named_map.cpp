#include "mailstore/msg/named_map.h"

#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/msg/msg_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace mbx::msg {

namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        t[i] = c;
    }
    return t;
}
constexpr auto kCrcTable = makeCrcTable();

constexpr std::uint32_t kBuckets = 31;

// Outlook keeps Internet-header names in lower case and hashes them that way, so header names
// match whatever case the mail used.
mapi::NamedKey normalized(const mapi::NamedKey& key) {
    if (key.set != mapi::guids::InternetHeaders || !std::holds_alternative<std::string>(key.name)) {
        return key;
    }
    mapi::NamedKey out = key;
    for (char& c : std::get<std::string>(out.name)) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return out;
}

std::string streamName(std::uint32_t tag) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "__substg1.0_%08X", tag);
    return buf;
}

} // namespace

std::uint32_t nameidCrc(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0;
    for (const std::uint8_t b : bytes) {
        crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

NamedPropertyMap::NamedPropertyMap(const mapi::Message& message) {
    walk(message);
}

void NamedPropertyMap::walk(const mapi::Message& message) {
    for (const auto& [key, value] : message.props.named()) {
        add(key);
    }
    for (const auto& r : message.recipients) {
        for (const auto& [key, value] : r.props.named()) {
            add(key);
        }
    }
    for (const auto& a : message.attachments) {
        for (const auto& [key, value] : a.props.named()) {
            add(key);
        }
        if (a.embedded) {
            walk(*a.embedded);
        }
    }
}

void NamedPropertyMap::add(const mapi::NamedKey& raw) {
    const mapi::NamedKey key = normalized(raw);
    if (ids_.contains(key)) {
        return;
    }
    if (keys_.size() >= 0x7FFF) {
        throw MsgError("too many named properties for one message");
    }
    ids_.emplace(key, static_cast<std::uint16_t>(mapi::tags::FirstNamedPropId + keys_.size()));
    keys_.push_back(key);
    if (key.set != mapi::guids::Mapi && key.set != mapi::guids::PublicStrings &&
        std::find(guids_.begin(), guids_.end(), key.set) == guids_.end()) {
        guids_.push_back(key.set);
    }
}

std::uint16_t NamedPropertyMap::idOf(const mapi::NamedKey& key) const {
    return ids_.at(normalized(key));
}

// 1 = PS_MAPI, 2 = PS_PUBLIC_STRINGS, 3 and up = position in the GUID stream.
std::uint16_t NamedPropertyMap::guidIndex(const mapi::Guid& guid) const {
    if (guid == mapi::guids::Mapi) {
        return 1;
    }
    if (guid == mapi::guids::PublicStrings) {
        return 2;
    }
    const auto it = std::find(guids_.begin(), guids_.end(), guid);
    return static_cast<std::uint16_t>(3 + (it - guids_.begin()));
}

std::vector<NamedPropertyMap::Stream> NamedPropertyMap::streams() const {
    Stream guidStream{streamName(mapi::tags::NameidStreamGuid), {}};
    Stream entryStream{streamName(mapi::tags::NameidStreamEntry), {}};
    Stream stringStream{streamName(mapi::tags::NameidStreamString), {}};
    std::array<std::vector<std::uint8_t>, kBuckets> buckets;

    for (const auto& g : guids_) {
        guidStream.data.insert(guidStream.data.end(), g.begin(), g.end());
    }
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const auto& key = keys_[i];
        const bool isString = std::holds_alternative<std::string>(key.name);
        const std::uint32_t kindAndGuid =
            (static_cast<std::uint32_t>(guidIndex(key.set)) << 1) | (isString ? 1u : 0u);
        const std::uint32_t indexAndKind = (static_cast<std::uint32_t>(i) << 16) | kindAndGuid;
        std::uint32_t hashKey = 0;
        if (isString) {
            const auto name = mapi::utf16leBytes(std::get<std::string>(key.name));
            appendLe32(entryStream.data, static_cast<std::uint32_t>(stringStream.data.size()));
            appendLe32(stringStream.data, static_cast<std::uint32_t>(name.size()));
            stringStream.data.insert(stringStream.data.end(), name.begin(), name.end());
            while (stringStream.data.size() % 4 != 0) {
                stringStream.data.push_back(0);
            }
            hashKey = nameidCrc(name);
        } else {
            hashKey = std::get<std::uint32_t>(key.name);
            appendLe32(entryStream.data, hashKey);
        }
        appendLe32(entryStream.data, indexAndKind);
        auto& bucket = buckets[(hashKey ^ kindAndGuid) % kBuckets];
        appendLe32(bucket, hashKey);
        appendLe32(bucket, indexAndKind);
    }

    std::vector<Stream> out;
    out.push_back(std::move(guidStream));
    out.push_back(std::move(entryStream));
    out.push_back(std::move(stringStream));
    for (std::uint32_t b = 0; b < kBuckets; ++b) {
        if (!buckets[b].empty()) {
            out.push_back({streamName(mapi::makeTag(
                               static_cast<std::uint16_t>(mapi::tags::NameidFirstBucketId + b),
                               mapi::PropType::Binary)),
                           std::move(buckets[b])});
        }
    }
    return out;
}

} // namespace mbx::msg
