#include "mailstore/pst/ltp/pc.h"

#include "mailstore/pst/ltp/bth.h"
#include "mailstore/pst/ndb/reader.h"

#include <algorithm>

namespace mbx::pst {

Bid writePropertyContext(NdbWriter& ndb, SubnodeSet& subs, std::vector<EncodedProp>& props) {
    std::sort(props.begin(), props.end(), [](const EncodedProp& a, const EncodedProp& b) {
        return mapi::propId(a.tag) < mapi::propId(b.tag);
    });
    for (std::size_t i = 1; i < props.size(); ++i)
        if (mapi::propId(props[i].tag) == mapi::propId(props[i - 1].tag))
            throw PstError("property id used twice in one object");
    HeapBuilder heap(kClientSigPc);
    const Hid header = allocateBthHeader(heap);
    heap.setUserRoot(header);
    Bytes records;
    records.reserve(props.size() * 8);
    for (const auto& p : props) {
        const PropType type = mapi::propType(p.tag);
        std::uint32_t slot = 0;
        if (storedInline(type)) {
            for (std::size_t i = 0; i < p.data.size() && i < 4; ++i)
                slot |= std::uint32_t{p.data[i]} << (8 * i);
        } else {
            slot = storeVariable(ndb, heap, subs, p.data);
        }
        appendLe16(records, mapi::propId(p.tag));
        appendLe16(records, static_cast<std::uint16_t>(type));
        appendLe32(records, slot);
    }
    buildBth(heap, header, 2, 6, records);
    return writeHeap(ndb, heap);
}

PropertyContextContent readPropertyContext(const NdbReader& ndb, Bid data,
                                           const std::map<Nid, SubnodeEntry>& subs) {
    return readPropertyContext(ndb, HeapReader(ndb.readStreamBlocks(data)), subs, true);
}

std::vector<std::string> visitPropertyContext(const HeapReader& heap,
                                              const std::map<Nid, SubnodeEntry>& subs,
                                              const std::span<const PropTag>* only,
                                              const PropertyVisitor& visit) {
    if (heap.clientSig() != kClientSigPc)
        throw PstError("node is not a property context");
    BthContent bth = readBth(heap, heap.userRoot());
    if (bth.cbKey != 2 || bth.cbEnt != 6)
        throw PstError("property context BTH has the wrong record size");
    for (std::size_t off = 0; off + 8 <= bth.records.size(); off += 8) {
        const std::uint8_t* r = bth.records.data() + off;
        const PropType type = static_cast<PropType>(readLe16(r + 2));
        const PropTag tag = mapi::makeTag(readLe16(r), type);
        const std::uint32_t slot = readLe32(r + 4);
        const bool inHeap = (slot & 0x1F) == 0;
        const bool wanted =
            only == nullptr || std::find(only->begin(), only->end(), tag) != only->end();
        if (storedInline(type)) {
            if (wanted) {
                std::uint8_t value[4];
                for (std::size_t i = 0; i < sizeof value; ++i)
                    value[i] = static_cast<std::uint8_t>(slot >> (8 * i));
                visit(tag, ByteView(value, fixedValueSize(type)), nullptr);
            }
            continue;
        }
        if (inHeap) {
            const ByteView item = slot != 0 ? heap.item(slot) : ByteView(); // throws when absent
            if (wanted)
                visit(tag, item, nullptr);
            continue;
        }
        const auto sub = subs.find(slot);
        if (sub == subs.end())
            throw PstError("subnode " + std::to_string(slot) + " not found");
        if (wanted)
            visit(tag, ByteView(), &sub->second);
    }
    return std::move(bth.faults);
}

namespace {

// With `only`, the values of other tags are looked up (a heap item or subnode that is not
// there is refused) but neither read nor kept.
PropertyContextContent readProperties(const NdbReader& ndb, const HeapReader& heap,
                                      const std::map<Nid, SubnodeEntry>& subs, bool subnodeValues,
                                      const std::span<const PropTag>* only) {
    PropertyContextContent out;
    out.faults = visitPropertyContext(heap, subs, only,
                                      [&](PropTag tag, ByteView bytes, const SubnodeEntry* stream) {
                                          Bytes& value = out.props[tag];
                                          if (stream == nullptr)
                                              value.assign(bytes.begin(), bytes.end());
                                          else if (subnodeValues)
                                              value = ndb.readStream(stream->data);
                                      });
    return out;
}

} // namespace

PropertyContextContent readPropertyContext(const NdbReader& ndb, const HeapReader& heap,
                                           const std::map<Nid, SubnodeEntry>& subs,
                                           bool subnodeValues) {
    return readProperties(ndb, heap, subs, subnodeValues, nullptr);
}

PropertyContextContent readPropertyContext(const NdbReader& ndb, const HeapReader& heap,
                                           const std::map<Nid, SubnodeEntry>& subs,
                                           std::span<const PropTag> tags) {
    return readProperties(ndb, heap, subs, true, &tags);
}

} // namespace mbx::pst
