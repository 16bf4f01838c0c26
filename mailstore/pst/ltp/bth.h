// BTree-on-heap ([MS-PST] §2.3.2): sorted fixed-size records in heap items, with index levels
// once one leaf item (3,580 bytes) is not enough.
#pragma once

#include "mailstore/pst/ltp/heap.h"

namespace mbx::pst {

// Writes the records (already sorted by key, each cbKey + cbEnt bytes, back to back) and fills
// the 8-byte BTHHEADER item `header`, which the caller allocated earlier (so it can be the
// heap's first item, as Outlook places it).
void buildBth(HeapBuilder& heap, Hid header, std::uint8_t cbKey, std::uint8_t cbEnt,
              const Bytes& records);
Hid allocateBthHeader(HeapBuilder& heap);

struct BthContent {
    std::uint8_t cbKey = 0;
    std::uint8_t cbEnt = 0;
    std::uint8_t levels = 0;
    Bytes records;                   // leaf records in order, cbKey + cbEnt bytes each
    std::vector<std::string> faults; // order and key problems met while reading
};
BthContent readBth(const HeapReader& heap, Hid header);

} // namespace mbx::pst
