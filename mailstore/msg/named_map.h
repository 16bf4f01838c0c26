// The named-property map of a .msg file ([MS-OXMSG] 2.2.3): which property id stands for which
// (property set, name) pair, and the three streams plus hash buckets that record it.
#pragma once

#include "mailstore/mapi/property.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace mbx::msg {

// CRC-32 as the named-property hash uses it: reflected polynomial 0xEDB88320, initial value 0 and
// no final inversion (so not zlib's crc32).
std::uint32_t nameidCrc(std::span<const std::uint8_t> bytes);

class NamedPropertyMap {
public:
    // Gives each distinct key of the message, its recipients, attachments and attached mails an
    // id from 0x8000 on, in the order they are met.
    explicit NamedPropertyMap(const mapi::Message& message);

    std::uint16_t idOf(const mapi::NamedKey& key) const;

    struct Stream {
        std::string name; // e.g. "__substg1.0_00020102"
        std::vector<std::uint8_t> data;
    };
    // GUID, entry and string streams (always, possibly empty) followed by the non-empty buckets.
    std::vector<Stream> streams() const;

private:
    void add(const mapi::NamedKey& key);
    void walk(const mapi::Message& message);
    std::uint16_t guidIndex(const mapi::Guid& guid) const;

    std::vector<mapi::NamedKey> keys_;
    std::map<mapi::NamedKey, std::uint16_t> ids_;
    std::vector<mapi::Guid> guids_;
};

} // namespace mbx::msg
