// Message objects ([MS-PST] §2.4.5, §2.4.6): the message property context, its recipient table
// (always present), attachment table and attachment objects, embedded messages included.
#pragma once

#include "mailstore/pst/messaging/namemap.h"

#include <random>

namespace mbx::pst {

struct WrittenMessage {
    Bid data = 0;           // the message property context
    Bid sub = 0;            // its subnode tree
    std::uint32_t size = 0; // PidTagMessageSize as stored
    std::int32_t flags = 0;
    std::vector<EncodedProp> props; // the stored properties, for the folder's contents row
};

// Writes the message's nodes' data; the caller registers the node (or the embedding subnode).
// `rng` supplies search keys for messages that come without one.
WrittenMessage writeMessage(NdbWriter& ndb, NameToIdMap& names, std::mt19937_64& rng,
                            const mapi::Message& message);

// Throws PstError when any property of the message, its recipients or attachments (embedded
// messages included) cannot be stored, so that nothing is written for a message that would
// fail half-way.
void validateMessage(const mapi::Message& message);

// Properties of a bag as stored: named properties mapped to their ids.
std::vector<EncodedProp> encodeBag(const mapi::PropertyBag& bag, NameToIdMap& names);
// Replaces (or adds) the property with the tag's id.
void setProp(std::vector<EncodedProp>& props, PropTag tag, Bytes data);
const EncodedProp* findProp(const std::vector<EncodedProp>& props, PropTag tag);

} // namespace mbx::pst
