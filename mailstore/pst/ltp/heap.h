// Heap-on-node ([MS-PST] §2.3.1): variable-size items addressed by HID inside the blocks of one
// node's data. The builder keeps items per block in one buffer; every block except the last is
// padded to a full data block so that block k of the heap is block k of the data tree.
#pragma once

#include "mailstore/pst/ndb/bytes.h"
#include "mailstore/pst/ndb/layout.h"

#include <functional>
#include <vector>

namespace mbx::pst {

using Hid = std::uint32_t;

inline constexpr std::size_t kMaxHeapItem = 3580;
inline constexpr std::uint8_t kHeapSig = 0xEC;
inline constexpr std::uint8_t kClientSigTc = 0x7C;
inline constexpr std::uint8_t kClientSigBth = 0xB5;
inline constexpr std::uint8_t kClientSigPc = 0xBC;

constexpr Hid makeHid(std::uint32_t block, std::uint32_t index) {
    return (block << 16) | (index << 5);
}
constexpr std::uint32_t hidBlock(Hid hid) {
    return hid >> 16;
}
constexpr std::uint32_t hidIndex(Hid hid) {
    return (hid >> 5) & 0x7FF;
}
// Size of the header at the start of heap block `block` (HNHDR, HNPAGEHDR or HNBITMAPHDR).
constexpr std::size_t heapBlockHeaderSize(std::size_t block) {
    return block == 0 ? 12 : ((block >= 8 && (block - 8) % 128 == 0) ? 66 : 2);
}

class HeapBuilder {
public:
    explicit HeapBuilder(std::uint8_t clientSig) : clientSig_(clientSig) { blocks_.emplace_back(); }

    // Stores an item of at most 3,580 bytes and returns its HID.
    Hid allocate(ByteView data);
    // The bytes of an item already allocated, for filling in a header once its children exist.
    std::uint8_t* itemData(Hid hid);
    void setUserRoot(Hid hid) { userRoot_ = hid; }
    std::size_t blockCount() const { return blocks_.size(); }
    // Serialised heap blocks, in order.
    std::vector<Bytes> build();
    // The same blocks handed to `each` one at a time, in order (valid during the call). Each is
    // completed in the builder's own storage for the call; the items are unchanged afterwards.
    void build(const std::function<void(ByteView)>& each);

private:
    struct Block {
        Bytes data;                      // room for the block's header, then the items, packed
        std::vector<std::uint16_t> ends; // end offset of each item within `data`
    };
    std::size_t itemBytes(std::size_t block) const;
    std::uint8_t clientSig_;
    Hid userRoot_ = 0;
    std::vector<Block> blocks_;
};

class HeapReader {
public:
    // Throws PstError when block 0 is not a heap header.
    explicit HeapReader(std::vector<Bytes> blocks);
    std::uint8_t clientSig() const { return clientSig_; }
    Hid userRoot() const { return userRoot_; }
    // The bytes of an item; throws PstError on an unknown HID.
    ByteView item(Hid hid) const;
    const std::vector<Bytes>& blocks() const { return blocks_; }
    // Structural problems of the page maps (empty when none).
    std::vector<std::string> validate() const;

private:
    std::vector<Bytes> blocks_;
    std::uint8_t clientSig_ = 0;
    Hid userRoot_ = 0;
};

} // namespace mbx::pst
