#include "mailstore/pst/ltp/values.h"

#include "mailstore/mapi/text.h"
#include "mailstore/pst/ndb/reader.h"

#include <bit>
#include <cstring>

namespace mbx::pst {
namespace {

template <typename T> const T& need(const mapi::Value& v, PropType type) {
    if (const T* p = std::get_if<T>(&v))
        return *p;
    throw PstError("property value does not match its type 0x" +
                   std::to_string(static_cast<int>(type)));
}

Bytes mvVariable(const std::vector<Bytes>& items) {
    Bytes out;
    appendLe32(out, static_cast<std::uint32_t>(items.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * items.size());
    for (const auto& i : items) {
        appendLe32(out, offset);
        offset += static_cast<std::uint32_t>(i.size());
    }
    for (const auto& i : items)
        appendBytes(out, i);
    return out;
}

} // namespace

Bytes utf16le(std::string_view utf8) {
    return mapi::utf16leBytes(utf8);
}

std::size_t fixedValueSize(PropType type) {
    if (static_cast<std::uint16_t>(type) == 0x0004) // PtypFloating32, not in the model
        return 4;
    switch (type) {
    case PropType::Boolean:
        return 1;
    case PropType::Int16:
        return 2;
    case PropType::Int32:
    case PropType::Error:
        return 4;
    case PropType::Int64:
    case PropType::Double:
    case PropType::Currency:
    case PropType::AppTime:
    case PropType::SysTime:
        return 8;
    case PropType::Guid:
        return 16;
    default:
        return 0;
    }
}

bool storedInline(PropType type) {
    const std::size_t n = fixedValueSize(type);
    return n > 0 && n <= 4;
}

Bytes encodeValue(PropType type, const mapi::Value& v) {
    Bytes out;
    switch (type) {
    case PropType::Int16:
        appendLe16(out, static_cast<std::uint16_t>(need<std::int16_t>(v, type)));
        break;
    case PropType::Int32:
    case PropType::Error:
        appendLe32(out, static_cast<std::uint32_t>(need<std::int32_t>(v, type)));
        break;
    case PropType::Boolean:
        out.push_back(need<bool>(v, type) ? 1 : 0);
        break;
    case PropType::Int64:
    case PropType::Currency:
        appendLe64(out, static_cast<std::uint64_t>(need<std::int64_t>(v, type)));
        break;
    case PropType::Double:
    case PropType::AppTime: {
        std::uint64_t bits;
        const double d = need<double>(v, type);
        std::memcpy(&bits, &d, 8);
        appendLe64(out, bits);
        break;
    }
    case PropType::SysTime:
        appendLe64(out, need<mapi::FileTime>(v, type).ticks);
        break;
    case PropType::Unicode:
        out = utf16le(need<std::string>(v, type));
        break;
    case PropType::String8: {
        const auto& s = need<std::string>(v, type);
        out.assign(s.begin(), s.end());
        break;
    }
    case PropType::Binary:
        out = need<mapi::Bytes>(v, type);
        break;
    case PropType::Guid: {
        const auto& g = need<mapi::Guid>(v, type);
        out.assign(g.begin(), g.end());
        break;
    }
    case PropType::MvInt32:
        for (std::int32_t i : need<std::vector<std::int32_t>>(v, type))
            appendLe32(out, static_cast<std::uint32_t>(i));
        break;
    case PropType::MvUnicode: {
        std::vector<Bytes> items;
        for (const auto& s : need<std::vector<std::string>>(v, type))
            items.push_back(utf16le(s));
        out = mvVariable(items);
        break;
    }
    case PropType::MvBinary:
        out = mvVariable(need<std::vector<mapi::Bytes>>(v, type));
        break;
    default:
        throw PstError("property type not supported in a PST: " +
                       std::to_string(static_cast<int>(type)));
    }
    return out;
}

std::uint32_t storeVariable(NdbWriter& ndb, HeapBuilder& heap, SubnodeSet& subs, ByteView data) {
    if (data.empty())
        return 0;
    if (data.size() <= kMaxHeapItem)
        return heap.allocate(data);
    const Nid nid = subs.newNid(NidType::Ltp);
    subs.add({nid, writeDataTree(ndb, data), 0});
    return nid;
}

Bid writeHeap(NdbWriter& ndb, HeapBuilder& heap) {
    DataTreeWriter tree(ndb);
    const std::size_t blocks = heap.blockCount();
    std::size_t seen = 0;
    Bid root = 0;
    heap.build([&](ByteView block) {
        if (++seen < blocks)
            tree.append(block);
        else
            root = tree.finish(block);
    });
    return root;
}

Bytes resolveHnid(const NdbReader& ndb, const HeapReader& heap,
                  const std::map<Nid, SubnodeEntry>& subs, std::uint32_t hnid) {
    if (hnid == 0)
        return {};
    if ((hnid & 0x1F) == 0) {
        const ByteView v = heap.item(hnid);
        return Bytes(v.begin(), v.end());
    }
    auto it = subs.find(hnid);
    if (it == subs.end())
        throw PstError("subnode " + std::to_string(hnid) + " not found");
    return ndb.readStream(it->second.data);
}

} // namespace mbx::pst
