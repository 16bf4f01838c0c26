#include "mailstore/pst/check.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/ltp/tc.h"
#include "mailstore/pst/ndb/crc.h"
#include "mailstore/pst/ndb/permute.h"
#include "mailstore/pst/ndb/reader.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

namespace mbx::pst {
namespace {

namespace tags = mapi::tags;

// Names a place or an id in the check's messages; built for every block and node checked, so
// it stays cheap.
std::string hex(std::uint64_t v) {
    return hexNumber(v);
}

// What refers to a block: a node, or a subnode of a holder. Named only in a fault's message.
struct Holder {
    const Holder* parent = nullptr;
    std::uint64_t id = 0;
    std::string text() const {
        return parent != nullptr ? parent->text() + " subnode " + hex(id) : "node " + hex(id);
    }
};

class Checker {
public:
    explicit Checker(const std::filesystem::path& path) : path_(path) {}
    explicit Checker(const Bytes& image) : image_(&image) {}
    Checker(const NdbReader& reader, MessageDepth depth, const BlockAudit* audit)
        : reader_(&reader), depth_(depth), audit_(audit) {}

    CheckReport run() {
        if (reader_ == nullptr) {
            try {
                if (image_ != nullptr)
                    own_.emplace(*image_);
                else
                    own_.emplace(path_);
            } catch (const std::exception& e) {
                fault(std::string("cannot open: ") + e.what());
                return std::move(report_);
            }
            reader_ = &*own_;
        }
        checkHeader();
        if (!report_.ok())
            return std::move(report_);
        checkMapPages();
        walkTree(reader_->header().nbt, PageType::Nbt, -1, 0, ~std::uint64_t{0}, 0);
        walkTree(reader_->header().bbt, PageType::Bbt, -1, 0, ~std::uint64_t{0}, 0);
        checkBlocks();
        checkReferences();
        checkAllocationMap();
        // What the passes over the blocks built goes before the nodes' heaps are read (a
        // folder's contents table alone can take tens of megabytes).
        kept_ = std::vector<Kept>();
        keptBytes_ = Bytes();
        refs_ = std::vector<unsigned>();
        amaps_ = std::vector<Bytes>();
        expected_ = std::vector<Bytes>();
        starts_ = std::vector<Bytes>();
        checkNodes();
        report_.nodes = reader_->nodes().size();
        report_.blocks = reader_->blocks().size();
        return std::move(report_);
    }

private:
    void fault(std::string s) {
        if (report_.faults.size() < 200)
            report_.faults.push_back(std::move(s));
        else if (report_.faults.size() == 200)
            report_.faults.push_back("(further faults not listed)");
    }

    // `what` names it: a text, or a callable giving one (built only for a fault).
    template <class What>
    void markAllocated(std::uint64_t ib, std::uint64_t size, const What& what) {
        const auto name = [&what] {
            if constexpr (std::is_invocable_v<const What&>)
                return std::string(what());
            else
                return std::string(what);
        };
        if (ib < kFirstAMapOffset || ib + size > reader_->fileSize()) {
            fault(name() + " at " + hex(ib) + " outside the mapped part of the file");
            return;
        }
        const std::uint64_t k = sectionOf(ib);
        if (sectionOf(ib + size - 1) != k)
            fault(name() + " at " + hex(ib) + " crosses a section boundary");
        if (k >= sections_)
            return;
        if (expected_.empty()) {
            expected_.assign(sections_, Bytes(kPageDataSize, 0));
            starts_.assign(sections_, Bytes(kPageDataSize, 0));
        }
        // The units it takes, as its section's AMap should mark them.
        const std::uint64_t first = (ib - sectionOffset(k)) / kUnitSize;
        if (first < kUnitsPerSection) {
            std::uint8_t& start = starts_[k][first / 8];
            const auto bit = static_cast<std::uint8_t>(0x80u >> (first % 8));
            if (start & bit)
                fault("space at " + hex(ib) + " allocated twice");
            start |= bit;
        }
        for (std::uint64_t u = first;
             u < first + (size + kUnitSize - 1) / kUnitSize && u < kUnitsPerSection; ++u)
            expected_[k][u / 8] |= static_cast<std::uint8_t>(0x80u >> (u % 8));
    }

    void checkHeader() {
        const DecodedHeader& d = reader_->decodedHeader();
        const Header& h = d.header;
        if (!d.sentinelOk)
            fault("header sentinel is not 0x80");
        if (h.version != 23)
            fault("wVer is " + std::to_string(h.version) + ", expected 23");
        if (h.fileEof != reader_->fileSize())
            fault("ibFileEof " + hex(h.fileEof) + " differs from the file size " +
                  hex(reader_->fileSize()));
        if (reader_->fileSize() < sectionOffset(1) ||
            (reader_->fileSize() - kFirstAMapOffset) % kSectionSize != 0)
            fault("file size is not a whole number of AMap sections");
        sections_ = (reader_->fileSize() - kFirstAMapOffset) / kSectionSize;
        if (sections_ > 0 && h.lastAMap != sectionOffset(sections_ - 1))
            fault("ibAMapLast " + hex(h.lastAMap) + " is not the last AMap");
        if (h.amapValid != 2 && h.amapValid != 1)
            fault("fAMapValid is " + std::to_string(h.amapValid));
        if (h.cryptMethod > 1)
            fault("bCryptMethod " + std::to_string(h.cryptMethod) + " is not none or permute");
    }

    void checkPage(std::uint64_t ib, PageType type, Bid expectBid, const Bytes& page) {
        const PageTrailer t = PageTrailer::decode(page.data() + kPageDataSize);
        const PageTrailer want = PageTrailer::of(type, expectBid, ib, page.data());
        const auto what = [ib] { return "page at " + hex(ib); };
        if (t.ptype != want.ptype || t.ptypeRepeat != t.ptype)
            fault(what() + ": page type " + hex(t.ptype) + "/" + hex(t.ptypeRepeat) +
                  ", expected " + hex(want.ptype));
        if (t.crc != want.crc)
            fault(what() + ": page CRC mismatch");
        if (t.bid != want.bid)
            fault(what() + ": trailer BID " + hex(t.bid) + ", expected " + hex(want.bid));
        if (t.signature != want.signature)
            fault(what() + ": bad page signature");
    }

    void checkMapPages() {
        std::uint64_t zeroBits = 0;
        for (std::uint64_t k = 0; k < sections_; ++k) {
            std::uint64_t at = sectionOffset(k);
            const Bytes amap = reader_->readApart(at, kPageSize);
            checkPage(at, PageType::AMap, at, amap);
            amaps_.push_back(Bytes(amap.begin(), amap.begin() + kPageDataSize));
            for (std::size_t i = 0; i < kPageDataSize; ++i)
                zeroBits += 8 - static_cast<unsigned>(__builtin_popcount(amap[i]));
            markAllocated(at, kPageSize, "AMap page");
            at += kPageSize;
            if (sectionHasPMap(k)) {
                checkPage(at, PageType::PMap, at, reader_->readApart(at, kPageSize));
                markAllocated(at, kPageSize, "PMap page");
                at += kPageSize;
            }
            if (sectionHasFMap(k) || sectionHasFPMap(k)) {
                const PageType t = sectionHasFMap(k) ? PageType::FMap : PageType::FPMap;
                checkPage(at, t, at, reader_->readApart(at, kPageSize));
                markAllocated(at, kPageSize, t == PageType::FMap ? "FMap page" : "FPMap page");
            }
        }
        if (reader_->header().amapFree != zeroBits * kUnitSize)
            fault("cbAMapFree " + std::to_string(reader_->header().amapFree) +
                  " but the AMaps have " + std::to_string(zeroBits * kUnitSize) + " bytes free");
    }

    // Walks one B-tree; keys of the page must lie in [low, high) and the first key must equal
    // the parent's key for it.
    void walkTree(BlockRef ref, PageType type, int expectLevel, std::uint64_t low,
                  std::uint64_t high, int depth) {
        const auto what = [&] {
            return std::string(type == PageType::Nbt ? "NBT" : "BBT") + " page at " + hex(ref.ib);
        };
        if (depth > 9) {
            fault(what() + ": tree deeper than allowed");
            return;
        }
        if (ref.ib % kPageSize != 0 || ref.ib + kPageSize > reader_->fileSize()) {
            fault(what() + ": misplaced page");
            return;
        }
        const Bytes page = reader_->readAt(ref.ib, kPageSize);
        checkPage(ref.ib, type, ref.bid, page);
        markAllocated(ref.ib, kPageSize, what);
        const BTPage counts = BTPage::decode(page.data());
        const unsigned cEnt = counts.cEnt, cEntMax = counts.cEntMax, cbEnt = counts.cbEnt;
        const unsigned level = counts.cLevel;
        if (expectLevel >= 0 && static_cast<int>(level) != expectLevel)
            fault(what() + ": level " + std::to_string(level) + ", expected " +
                  std::to_string(expectLevel));
        const std::size_t want = level > 0               ? BTEntry::kSize
                                 : type == PageType::Nbt ? NbtEntry::kSize
                                                         : BbtEntry::kSize;
        if (cbEnt != want || cEntMax != BTPage::kEntriesSize / want || cEnt > cEntMax) {
            fault(what() + ": bad entry counts or size");
            return;
        }
        if (cEnt == 0 && depth > 0)
            fault(what() + ": empty page below the root");
        std::uint64_t prev = 0;
        for (unsigned i = 0; i < cEnt; ++i) {
            const std::uint8_t* e = page.data() + i * cbEnt;
            const std::uint64_t key = type == PageType::Bbt && level == 0
                                          ? BTPage::key(e) & ~std::uint64_t{1}
                                          : BTPage::key(e);
            if (i > 0 && key <= prev)
                fault(what() + ": keys out of order at entry " + std::to_string(i));
            if (key < low || key >= high)
                fault(what() + ": key " + hex(key) + " outside the range of its parent entry");
            if (i == 0 && depth > 0 && key != low)
                fault(what() + ": first key differs from the parent's key");
            prev = key;
            if (level > 0) {
                const std::uint64_t next = i + 1 < cEnt ? BTPage::key(e + cbEnt) : high;
                walkTree(BTEntry::decode(e).ref, type, static_cast<int>(level) - 1, key,
                         std::min(next, high), depth + 1);
            } else if (type == PageType::Nbt) {
                ++nbtEntries_;
            } else {
                ++bbtEntries_;
            }
        }
    }

    void checkBlocks() {
        if (nbtEntries_ != reader_->nodes().size())
            fault("NBT has duplicate keys");
        if (bbtEntries_ != reader_->blocks().size())
            fault("BBT has duplicate keys");
        std::size_t internal = 0;
        std::size_t internalBytes = 0;
        for (const auto& e : reader_->blocks()) {
            if (bidIsInternal(e.bid)) {
                ++internal;
                internalBytes += e.cb;
            }
        }
        kept_.reserve(internal);
        keptBytes_.reserve(internalBytes);
        std::size_t position = 0;
        for (const auto& e : reader_->blocks()) {
            const std::size_t here = position++;
            const auto what = [&e] { return "block " + hex(e.bid) + " at " + hex(e.ib); };
            if (e.bid & 1)
                fault(what() + ": reserved BID bit set");
            if (e.ib % kUnitSize != 0 || e.cb > kMaxBlockData) {
                fault(what() + ": misaligned or oversized");
                continue;
            }
            const std::uint64_t size = blockStoredSize(e.cb);
            if (e.ib + size > reader_->fileSize()) {
                fault(what() + ": beyond the end of the file");
                continue;
            }
            markAllocated(e.ib, size, what);
            // With an audit, data blocks are verified by the readers that read them (and the
            // rest by checkUnreadBlocks afterwards): this pass reads only the internal blocks
            // it keeps.
            if (audit_ != nullptr && !bidIsInternal(e.bid))
                continue;
            const ByteView b = reader_->viewAt(e.ib, size);
            for (auto& f : blockFaults(e, b))
                fault(std::move(f));
            if (bidIsInternal(e.bid)) {
                kept_.push_back({here, keptBytes_.size()});
                keptBytes_.insert(keptBytes_.end(), b.begin(), b.begin() + e.cb);
            }
        }
    }

    // An internal block's data: as checkBlocks() kept it (it reads every block front to back,
    // and the trees of the nodes, read in the order of the nodes, would take the file again a
    // window at a time for a block or two in each), else read.
    ByteView internalBlock(Bid bid, Bytes& read) const {
        const auto it = reader_->blocks().find(bid & ~Bid{1});
        if (it != reader_->blocks().end()) {
            const std::size_t position = reader_->blocks().position(it);
            const auto k =
                std::lower_bound(kept_.begin(), kept_.end(), position,
                                 [](const Kept& kept, std::size_t p) { return kept.position < p; });
            if (k != kept_.end() && k->position == position)
                return ByteView(keptBytes_.data() + k->at, it->cb);
        }
        read = reader_->readBlock(bid);
        return read;
    }

    void reference(Bid bid, const Holder& holder) {
        if (bid == 0)
            return;
        const auto it = reader_->blocks().find(bid & ~Bid{1});
        if (it == reader_->blocks().end()) {
            fault(holder.text() + " refers to missing block " + hex(bid));
            return;
        }
        ++refs_[reader_->blocks().position(it)];
    }

    // Walks a data tree, counting references and checking XBLOCK totals and full blocks.
    void walkData(Bid bid, const Holder& holder) {
        reference(bid, holder);
        if (bid == 0 || !bidIsInternal(bid) || !reader_->blocks().count(bid & ~Bid{1}))
            return;
        Bytes read;
        const ByteView x = internalBlock(bid, read);
        const std::size_t headSize = InternalBlockHead::kSize;
        const InternalBlockHead head =
            x.size() >= headSize ? InternalBlockHead::decode(x.data()) : InternalBlockHead{};
        if (head.btype != InternalBlockHead::kDataTree || (head.cLevel != 1 && head.cLevel != 2)) {
            fault(holder.text() + ": internal block " + hex(bid) + " is not an XBLOCK/XXBLOCK");
            return;
        }
        const unsigned n = head.cEnt;
        if (headSize + sizeof(Bid) * n > x.size()) {
            fault(holder.text() + ": XBLOCK " + hex(bid) + " too short");
            return;
        }
        std::uint64_t total = 0;
        for (unsigned i = 0; i < n; ++i) {
            const Bid child = readLe64(x.data() + headSize + sizeof(Bid) * i);
            std::uint64_t childSize = 0;
            if (head.cLevel == 2) {
                walkData(child, holder);
                if (reader_->blocks().count(child & ~Bid{1})) {
                    Bytes childRead;
                    const ByteView cx = internalBlock(child, childRead);
                    childSize =
                        cx.size() >= headSize ? InternalBlockHead::decode(cx.data()).lcbTotal : 0;
                }
            } else {
                reference(child, holder);
                auto it = reader_->blocks().find(child & ~Bid{1});
                if (it != reader_->blocks().end()) {
                    childSize = it->cb;
                    if (bidIsInternal(child))
                        fault(holder.text() + ": XBLOCK child " + hex(child) + " is internal");
                    if (i + 1 < n && childSize != kMaxBlockData)
                        fault(holder.text() + ": data block " + hex(child) +
                              " is not full but not last");
                }
            }
            total += childSize;
        }
        if (total != head.lcbTotal)
            fault(holder.text() + ": XBLOCK " + hex(bid) + " lcbTotal " +
                  std::to_string(head.lcbTotal) + " but children hold " + std::to_string(total));
    }

    void walkSubnodes(Bid bid, const Holder& holder, int depth) {
        reference(bid, holder);
        if (bid == 0 || !reader_->blocks().count(bid & ~Bid{1}))
            return;
        if (!bidIsInternal(bid) || depth > 4) {
            fault(holder.text() + ": subnode tree root " + hex(bid) + " is not an internal block");
            return;
        }
        Bytes read;
        const ByteView b = internalBlock(bid, read);
        const std::size_t headSize = InternalBlockHead::kSize;
        const InternalBlockHead head =
            b.size() >= headSize ? InternalBlockHead::decode(b.data()) : InternalBlockHead{};
        if (head.btype != InternalBlockHead::kSubnodeTree || head.cLevel > 1) {
            fault(holder.text() + ": block " + hex(bid) + " is not an SLBLOCK/SIBLOCK");
            return;
        }
        const unsigned n = head.cEnt;
        const std::size_t size = head.cLevel == 0 ? SubnodeEntry::kSize : SubnodeIndexEntry::kSize;
        if (n == 0 || headSize + size * n > b.size()) {
            fault(holder.text() + ": subnode block " + hex(bid) + " has a bad entry count");
            return;
        }
        std::uint64_t prev = 0;
        for (unsigned i = 0; i < n; ++i) {
            const std::uint8_t* e = b.data() + headSize + size * i;
            // Both entry kinds start with the NID in 8 bytes; order is checked on all of them.
            const std::uint64_t nid = readLe64(e);
            if (i > 0 && nid <= prev)
                fault(holder.text() + ": subnodes out of order in " + hex(bid));
            prev = nid;
            if (head.cLevel == 0) {
                const SubnodeEntry s = SubnodeEntry::decode(e);
                const Holder sub{&holder, nid};
                walkData(s.data, sub);
                walkSubnodes(s.sub, sub, 0);
            } else {
                walkSubnodes(SubnodeIndexEntry::decode(e).bid, holder, depth + 1);
            }
        }
    }

    void checkReferences() {
        refs_.assign(reader_->blocks().size(), 0);
        for (const auto& n : reader_->nodes()) {
            const Nid nid = n.nid;
            const Holder holder{nullptr, nid};
            walkData(n.data, holder);
            walkSubnodes(n.sub, holder, 0);
        }
        std::size_t position = 0;
        for (const auto& e : reader_->blocks()) {
            const unsigned holders = refs_[position++];
            if (holders == 0)
                fault("block " + hex(e.bid) + " is not referenced by any node");
            else if (e.cRef != holders + 1)
                fault("block " + hex(e.bid) + " has cRef " + std::to_string(e.cRef) + " but " +
                      std::to_string(holders) + " holder(s)");
        }
    }

    void checkAllocationMap() {
        if (expected_.empty())
            expected_.assign(sections_, Bytes(kPageDataSize, 0));
        const auto& expected = expected_;
        for (std::uint64_t k = 0; k < sections_; ++k) {
            for (std::size_t i = 0; i < kPageDataSize; ++i) {
                if (amaps_[k][i] == expected[k][i])
                    continue;
                const std::uint8_t extra = amaps_[k][i] & ~expected[k][i];
                fault("AMap " + std::to_string(k) + " byte " + std::to_string(i) + ": " +
                      (extra ? "marks space nothing uses" : "leaves used space unmarked") +
                      " (offset " + hex(sectionOffset(k) + i * 8 * kUnitSize) + ")");
            }
        }
    }

    // Checks one heap-based node or subnode; returns the properties when it is a property context.
    std::map<PropTag, Bytes> checkHeap(const std::string& what, Bid data,
                                       const std::map<Nid, SubnodeEntry>& subs,
                                       std::optional<TableContextContent>* table) {
        std::vector<Bytes> blocks;
        try {
            blocks = reader_->readStreamBlocks(data);
        } catch (const std::exception& e) {
            fault(what + ": " + e.what());
            return {};
        }
        if (blocks.empty() || blocks[0].size() < 12 || blocks[0][2] != kHeapSig)
            return {}; // not a heap (raw node data such as the search activity list)
        try {
            const HeapReader heap(std::move(blocks));
            for (auto& f : heap.validate())
                fault(what + ": " + f);
            if (heap.clientSig() == kClientSigPc) {
                // Values in subnodes are only looked up: their data trees and blocks are
                // checked by the reference walk and the block checks.
                auto pc = readPropertyContext(*reader_, heap, subs, false);
                for (auto& f : pc.faults)
                    fault(what + ": " + f);
                return std::move(pc.props);
            }
            if (heap.clientSig() == kClientSigTc) {
                // Rows are checked as they are read, not kept: a contents table can have
                // hundreds of thousands of them.
                TableContextContent tc = readTableContext(*reader_, heap, subs, TableRows::Check);
                for (auto& f : tc.faults)
                    fault(what + ": " + f);
                checkTableLayout(what, tc);
                if (table) // kept for the folder checks, which need the row index only
                    *table = std::move(tc);
            }
        } catch (const std::exception& e) {
            fault(what + ": " + e.what());
        }
        return {};
    }

    void checkTableLayout(const std::string& what, const TableContextContent& tc) {
        const auto& r = tc.rgib;
        if (!(r[0] <= r[1] && r[1] <= r[2] && r[2] <= r[3]))
            fault(what + ": TCINFO offsets not increasing");
        if (r[3] != r[2] + (tc.columns.size() + 7) / 8)
            fault(what + ": cell existence bitmap has the wrong size");
        std::vector<bool> bits(tc.columns.size());
        for (std::size_t i = 0; i < tc.columns.size(); ++i) {
            const TcColumn& c = tc.columns[i];
            if (i > 0 && c.tag <= tc.columns[i - 1].tag)
                fault(what + ": columns not sorted by tag");
            if (c.iBit >= bits.size() || bits[c.iBit])
                fault(what + ": bad iBit for column " + hex(c.tag));
            else
                bits[c.iBit] = true;
            const unsigned end = c.ib + c.cb;
            const bool inRegion = (c.cb >= 4 && end <= r[0]) ||
                                  (c.cb == 2 && c.ib >= r[0] && end <= r[1]) ||
                                  (c.cb == 1 && c.ib >= r[1] && end <= r[2]);
            if (!inRegion)
                fault(what + ": column " + hex(c.tag) + " outside its size region");
            if (c.tag == kLtpRowId && (c.ib != 0 || c.iBit != 0))
                fault(what + ": row id column not at offset 0 bit 0");
            if (c.tag == kLtpRowVer && (c.ib != 4 || c.iBit != 1))
                fault(what + ": row version column not at offset 4 bit 1");
        }
        std::vector<bool> rows(tc.rowIndex.size());
        for (const auto& [id, row] : tc.rowIndex) {
            if (row >= rows.size() || rows[row])
                fault(what + ": row index points at row " + std::to_string(row));
            else
                rows[row] = true;
        }
    }

    // Subnodes that hold objects: recipient and attachment tables, attachments, and the messages
    // that PtypObject properties of the parent point at. Other subnodes are raw values.
    void checkSubnodeHeaps(const std::string& holder, const std::map<PropTag, Bytes>& parentProps,
                           Bid sub, int depth) {
        if (sub == 0 || depth > 6)
            return;
        std::map<Nid, SubnodeEntry> subs;
        try {
            subs = reader_->readSubnodes(sub);
        } catch (const std::exception&) {
            return; // reported by the reference walk
        }
        std::set<Nid> objects;
        for (const auto& [tag, value] : parentProps)
            if (mapi::propType(tag) == mapi::PropType::Object && value.size() >= 4)
                objects.insert(readLe32(value.data()));
        for (const auto& [nid, s] : subs) {
            const NidType t = nidType(nid);
            if (t != NidType::Attachment && t != NidType::AttachmentTable &&
                t != NidType::RecipientTable && !objects.count(nid))
                continue;
            const std::string what = holder + " subnode " + hex(nid);
            std::map<Nid, SubnodeEntry> inner;
            try {
                inner = reader_->readSubnodes(s.sub);
            } catch (const std::exception&) {
            }
            const auto props = checkHeap(what, s.data, inner, nullptr);
            checkSubnodeHeaps(what, props, s.sub, depth + 1);
        }
    }

    void checkNodes() {
        const auto& nodes = reader_->nodes();
        std::map<Nid, std::optional<TableContextContent>> tables;
        for (const auto& n : nodes) {
            const Nid nid = n.nid;
            const std::string what = "node " + hex(nid);
            const NidType type = nidType(nid);
            if (depth_ == MessageDepth::Full || type != NidType::NormalMessage) {
                std::map<Nid, SubnodeEntry> subs;
                try {
                    subs = reader_->readSubnodes(n.sub);
                } catch (const std::exception&) {
                }
                std::optional<TableContextContent>* keep =
                    (type == NidType::HierarchyTable || type == NidType::ContentsTable)
                        ? &tables[nid]
                        : nullptr;
                const auto props = checkHeap(what, n.data, subs, keep);
                checkSubnodeHeaps(what, props, n.sub, 0);
            }
            // Parents: folders hang under folders, the root under itself, messages under folders.
            if (type == NidType::NormalFolder || type == NidType::SearchFolder ||
                type == NidType::NormalMessage || type == NidType::AssocMessage) {
                auto p = nodes.find(n.parent);
                const bool folderParent =
                    p != nodes.end() && (nidType(n.parent) == NidType::NormalFolder ||
                                         nidType(n.parent) == NidType::SearchFolder);
                if (!folderParent)
                    fault(what + ": parent " + hex(n.parent) + " is not a folder");
            }
        }
        if (!nodes.count(nids::MessageStore) || !nodes.count(nids::NameToIdMap) ||
            !nodes.count(nids::RootFolder))
            fault("message store, name-to-id map or root folder node missing");
        // Folder counts against table rows.
        for (const auto& n : nodes) {
            const Nid nid = n.nid;
            if (nidType(nid) != NidType::NormalFolder)
                continue;
            const std::string what = "folder " + hex(nid);
            PropertyContextContent pc;
            try {
                pc = readPropertyContext(*reader_, n.data, reader_->readSubnodes(n.sub));
            } catch (const std::exception&) {
                continue; // reported above
            }
            const auto h = tables.find(withType(nid, NidType::HierarchyTable));
            const auto c = tables.find(withType(nid, NidType::ContentsTable));
            if (h == tables.end() || c == tables.end() || !h->second || !c->second) {
                fault(what + ": hierarchy or contents table missing");
                continue;
            }
            auto count = pc.props.find(tags::ContentCount);
            // (A row matrix that differs from its row index is a fault of the table itself.)
            if (count == pc.props.end() ||
                readLe32(count->second.data()) != c->second->rowIndex.size())
                fault(what + ": content count differs from the contents table rows");
            auto subf = pc.props.find(tags::Subfolders);
            const bool hasChildren = !h->second->rowIndex.empty();
            if (subf == pc.props.end() || (subf->second.at(0) != 0) != hasChildren)
                fault(what + ": PidTagSubfolders differs from the hierarchy table");
            for (const auto& [rowId, row] : c->second->rowIndex) {
                auto m = nodes.find(rowId);
                if (m == nodes.end() || m->parent != nid)
                    fault(what + ": contents row " + hex(rowId) +
                          " is not a message of this folder");
            }
            for (const auto& [rowId, row] : h->second->rowIndex) {
                auto m = nodes.find(rowId);
                if (m == nodes.end() || m->parent != nid)
                    fault(what + ": hierarchy row " + hex(rowId) +
                          " is not a subfolder of this folder");
            }
        }
    }

    std::filesystem::path path_;
    const Bytes* image_ = nullptr; // instead of path_
    std::optional<NdbReader> own_;
    const NdbReader* reader_ = nullptr; // own_ or the caller's
    MessageDepth depth_ = MessageDepth::Full;
    const BlockAudit* audit_ = nullptr;
    CheckReport report_;
    std::uint64_t sections_ = 0;
    std::vector<Bytes> amaps_;
    // Per section, the units the AMap should mark and the units where something starts.
    std::vector<Bytes> expected_;
    std::vector<Bytes> starts_;
    std::vector<unsigned> refs_; // holders per block, in the order of the block index
    struct Kept {
        std::size_t position; // in the block index
        std::size_t at;       // in keptBytes_
    };
    std::vector<Kept> kept_; // internal blocks, by position
    Bytes keptBytes_;
    std::size_t nbtEntries_ = 0;
    std::size_t bbtEntries_ = 0;
};

} // namespace

CheckReport checkFile(const std::filesystem::path& path) {
    return Checker(path).run();
}

CheckReport checkImage(const std::vector<std::uint8_t>& image) {
    return Checker(image).run();
}

CheckReport checkReader(const NdbReader& reader, MessageDepth depth, const BlockAudit* audit) {
    return Checker(reader, depth, audit).run();
}

std::vector<std::string> checkUnreadBlocks(const NdbReader& reader, const BlockAudit& audit) {
    std::vector<std::string> faults = audit.faults();
    const auto& blocks = reader.blocks();
    for (auto it = blocks.begin(); it != blocks.end() && faults.size() < 200; ++it) {
        const BbtEntry& e = *it;
        const std::uint64_t size = blockStoredSize(e.cb);
        // Internal blocks are the check's own; misplaced ones it has reported.
        if (audit.seen(blocks.position(it)) || bidIsInternal(e.bid) || e.ib % kUnitSize != 0 ||
            e.cb > kMaxBlockData || e.ib + size > reader.fileSize())
            continue;
        for (auto& f : blockFaults(e, reader.viewAt(e.ib, static_cast<std::size_t>(size))))
            faults.push_back(std::move(f));
    }
    return faults;
}

} // namespace mbx::pst
