#include "mailstore/pst/messaging/namemap.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ndb/crc.h"

namespace mbx::pst {
namespace {
constexpr std::uint16_t kGuidMapi = 1;
constexpr std::uint16_t kGuidPublicStrings = 2;
} // namespace

NameToIdMap::NameToIdMap() {
    // Numeric and string names Outlook itself registers in every new store.
    idFor({mapi::guids::Common, std::uint32_t{0x8552}}); // PidLidCurrentVersion
    idFor({mapi::guids::Common, std::uint32_t{0x8554}}); // PidLidCurrentVersionName
    idFor({mapi::guids::InternetHeaders, std::string("content-class")});
}

std::uint16_t NameToIdMap::guidIndex(const mapi::Guid& g) {
    if (g == mapi::guids::Mapi)
        return kGuidMapi;
    if (g == mapi::guids::PublicStrings)
        return kGuidPublicStrings;
    for (std::size_t i = 0; i < guids_.size(); ++i)
        if (guids_[i] == g)
            return static_cast<std::uint16_t>(i + 3);
    guids_.push_back(g);
    return static_cast<std::uint16_t>(guids_.size() + 2);
}

std::uint16_t NameToIdMap::idFor(const mapi::NamedKey& key) {
    auto it = ids_.find(key);
    if (it != ids_.end())
        return static_cast<std::uint16_t>(mapi::tags::FirstNamedPropId + it->second);
    if (entries_.size() >= 0x7FFE)
        throw PstError("too many named properties");
    guidIndex(key.set);
    const auto index = static_cast<std::uint16_t>(entries_.size());
    ids_.emplace(key, index);
    entries_.push_back({key, index});
    return static_cast<std::uint16_t>(mapi::tags::FirstNamedPropId + index);
}

std::vector<EncodedProp> NameToIdMap::properties() const {
    Bytes guidStream;
    for (const auto& g : guids_)
        guidStream.insert(guidStream.end(), g.begin(), g.end());
    Bytes entryStream;
    Bytes stringStream;
    std::map<std::uint32_t, Bytes> buckets;
    for (const auto& e : entries_) {
        std::uint16_t gi = kGuidMapi;
        if (e.key.set == mapi::guids::PublicStrings)
            gi = kGuidPublicStrings;
        else if (e.key.set != mapi::guids::Mapi)
            for (std::size_t i = 0; i < guids_.size(); ++i)
                if (guids_[i] == e.key.set)
                    gi = static_cast<std::uint16_t>(i + 3);
        std::uint32_t id = 0;
        std::uint32_t hashId = 0;
        std::uint16_t kind = 0;
        if (const auto* lid = std::get_if<std::uint32_t>(&e.key.name)) {
            id = hashId = *lid;
        } else {
            const Bytes name = utf16le(std::get<std::string>(e.key.name));
            id = static_cast<std::uint32_t>(stringStream.size());
            appendLe32(stringStream, static_cast<std::uint32_t>(name.size()));
            appendBytes(stringStream, name);
            while (stringStream.size() % 4)
                stringStream.push_back(0);
            hashId = crc32(name);
            kind = 1;
        }
        const auto guidField = static_cast<std::uint16_t>((gi << 1) | kind);
        appendLe32(entryStream, id);
        appendLe16(entryStream, guidField);
        appendLe16(entryStream, e.index);
        Bytes& bucket = buckets[(hashId ^ guidField) % kNameIdBuckets];
        appendLe32(bucket, hashId);
        appendLe16(bucket, guidField);
        appendLe16(bucket, e.index);
    }
    std::vector<EncodedProp> props;
    Bytes count;
    appendLe32(count, kNameIdBuckets);
    props.push_back({mapi::tags::NameidBucketCount, count});
    props.push_back({mapi::tags::NameidStreamGuid, guidStream});
    props.push_back({mapi::tags::NameidStreamEntry, entryStream});
    props.push_back({mapi::tags::NameidStreamString, stringStream});
    for (auto& [b, data] : buckets)
        props.push_back(
            {mapi::makeTag(static_cast<std::uint16_t>(mapi::tags::NameidFirstBucketId + b),
                           PropType::Binary),
             data});
    return props;
}

} // namespace mbx::pst
