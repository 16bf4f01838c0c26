// On-disk representation of property values ([MS-PST] §2.3.3.2, [MS-OXCDATA] §2.11.1) and the
// helpers shared by property and table contexts.
#pragma once

#include "mailstore/mapi/property.h"
#include "mailstore/pst/ltp/heap.h"
#include "mailstore/pst/ndb/data_tree.h"

#include <map>
#include <vector>

namespace mbx::pst {

using mapi::PropTag;
using mapi::PropType;

struct EncodedProp {
    PropTag tag = 0;
    Bytes data; // the value as stored (UTF-16LE strings, little-endian numbers, MV layouts)
};

// Value bytes for a tag's type; throws PstError when the value does not fit the type.
Bytes encodeValue(PropType type, const mapi::Value& value);
// UTF-16LE bytes of a UTF-8 string (the model's strings), by the model's one converter.
Bytes utf16le(std::string_view utf8);

// Stored size of fixed-size types (0 for variable-size ones).
std::size_t fixedValueSize(PropType type);
// Types whose value sits in the 4-byte slot of a property context record.
bool storedInline(PropType type);

// Subnodes of a node being built, with node-local identifiers.
class SubnodeSet {
public:
    Nid newNid(NidType type) { return makeNid(type, next_++); }
    void add(SubnodeEntry e) { entries_.push_back(e); }
    const std::vector<SubnodeEntry>& entries() const { return entries_; }
    Bid write(NdbWriter& ndb) const { return writeSubnodeTree(ndb, entries_); }

private:
    std::uint32_t next_ = 1;
    std::vector<SubnodeEntry> entries_;
};

// Stores a variable-size value: a heap item when it fits, else a subnode holding a data tree.
// Empty values are HNID 0, as Outlook writes them.
std::uint32_t storeVariable(NdbWriter& ndb, HeapBuilder& heap, SubnodeSet& subs, ByteView data);
// Writes a finished heap as the node's data tree.
Bid writeHeap(NdbWriter& ndb, HeapBuilder& heap);

// The read side: the value behind an HNID of a heap in a node with the given subnodes.
class NdbReader;
Bytes resolveHnid(const NdbReader& ndb, const HeapReader& heap,
                  const std::map<Nid, SubnodeEntry>& subs, std::uint32_t hnid);

} // namespace mbx::pst
