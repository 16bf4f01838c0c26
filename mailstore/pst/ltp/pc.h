// Property context ([MS-PST] §2.3.3): a BTH keyed by property id over one node's heap.
#pragma once

#include "mailstore/pst/ltp/values.h"

#include <functional>
#include <span>

namespace mbx::pst {

// Writes the properties as a property context; large values become subnodes in `subs`.
// Returns the BID of the node data. Sorts `props` by property id in place, so that the caller
// keeps the values without a copy.
Bid writePropertyContext(NdbWriter& ndb, SubnodeSet& subs, std::vector<EncodedProp>& props);
inline Bid writePropertyContext(NdbWriter& ndb, SubnodeSet& subs,
                                std::vector<EncodedProp>&& props) {
    return writePropertyContext(ndb, subs, props);
}

struct PropertyContextContent {
    std::map<PropTag, Bytes> props; // values as stored: inline ones as 4 bytes (bool 1, int16 2)
    std::vector<std::string> faults;
};
PropertyContextContent readPropertyContext(const NdbReader& ndb, Bid data,
                                           const std::map<Nid, SubnodeEntry>& subs);
class HeapReader;
// The property context of a heap already read. With `subnodeValues` false, values kept in
// subnodes (the large ones) are looked up but not read: they stay empty.
PropertyContextContent readPropertyContext(const NdbReader& ndb, const HeapReader& heap,
                                           const std::map<Nid, SubnodeEntry>& subs,
                                           bool subnodeValues);
// Only the values of `tags`: the others are looked up (a heap item or subnode that is not
// there is refused) but neither read nor kept.
PropertyContextContent readPropertyContext(const NdbReader& ndb, const HeapReader& heap,
                                           const std::map<Nid, SubnodeEntry>& subs,
                                           std::span<const PropTag> tags);

// One value of a property context: its bytes when stored inline or in the heap (valid during
// the call), or else the subnode holding it (`bytes` empty).
using PropertyVisitor =
    std::function<void(PropTag tag, ByteView bytes, const SubnodeEntry* stream)>;
// Hands `visit` each value of `tags` (of every property without `tags`) in property id order;
// the others are looked up (a heap item or subnode that is not there is refused) but not read.
// Returns the faults of the property context's BTH; throws PstError on what cannot be read.
std::vector<std::string> visitPropertyContext(const HeapReader& heap,
                                              const std::map<Nid, SubnodeEntry>& subs,
                                              const std::span<const PropTag>* tags,
                                              const PropertyVisitor& visit);

} // namespace mbx::pst
