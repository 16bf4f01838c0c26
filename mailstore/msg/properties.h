// The property streams of one .msg storage ([MS-OXMSG] 2.4): the __properties_version1.0 stream
// (a header, then a 16-byte entry per property) and a __substg1.0_ stream per variable-length
// value, added to a compound-file storage.
#pragma once

#include "mailstore/cfb/compound_file.h"
#include "mailstore/mapi/property.h"
#include "mailstore/msg/named_map.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace mbx::msg {

class PropertyStream {
public:
    // `headerSize`: 32 bytes for the top-level message, 24 for an attached mail, 8 for a
    // recipient or attachment row.
    PropertyStream(cfb::CompoundFile& file, cfb::CompoundFile::Id storage, std::size_t headerSize,
                   std::size_t expectedEntries);

    // Values the writer substitutes for the model's (matched by property id).
    using Overrides = std::vector<std::pair<mapi::PropTag, mapi::Value>>;
    // Every property of `bag` (the attachment data left out when `skipData`), then `overrides`,
    // then the named properties under the ids `names` gives them.
    void addBag(const mapi::PropertyBag& bag, const NamedPropertyMap& names,
                const Overrides& overrides, bool skipData);
    // An entry whose value lives elsewhere (an attached mail's storage).
    void addEntry(mapi::PropTag tag, const std::uint8_t (&value)[8]);

    // The header bytes, for the caller to fill in before finish().
    std::uint8_t* header() { return entries_.data(); }
    // Adds the __properties_version1.0 stream.
    void finish();

private:
    void add(mapi::PropTag tag, const mapi::Value& v);

    cfb::CompoundFile& file_;
    cfb::CompoundFile::Id storage_;
    std::vector<std::uint8_t> entries_;
    std::vector<mapi::PropTag> written_;
};

} // namespace mbx::msg
