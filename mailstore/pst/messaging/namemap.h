// Name-to-id map ([MS-PST] §2.4.7): named properties get ids from 0x8000 in the order they are
// first used; the map node (NID 0x61) is written at close.
#pragma once

#include "mailstore/pst/ltp/values.h"

#include <map>

namespace mbx::pst {

class NameToIdMap {
public:
    // Starts with a few common names, as Outlook's new stores do: readers refuse a map whose
    // streams are empty.
    NameToIdMap();
    // The property id (0x8000 + index) of a name, allocating one on first use.
    std::uint16_t idFor(const mapi::NamedKey& key);
    std::size_t size() const { return entries_.size(); }
    // The map's properties: bucket count, GUID, entry and string streams, and the hash buckets.
    std::vector<EncodedProp> properties() const;

    struct Entry {
        mapi::NamedKey key;
        std::uint16_t index;
    };
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::uint16_t guidIndex(const mapi::Guid& g);

    std::vector<mapi::Guid> guids_; // GUID stream (index 3 and up)
    std::map<mapi::NamedKey, std::uint16_t> ids_;
    std::vector<Entry> entries_;
};

// Hash bucket of a NAMEID record ([MS-PST] §2.4.7.5).
constexpr std::uint32_t kNameIdBuckets = 251;

} // namespace mbx::pst
