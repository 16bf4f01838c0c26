#include "mailstore/pst/ndb/reader.h"

#include "mailstore/pst/ndb/crc.h"
#include "mailstore/pst/ndb/permute.h"
#include "platform/file.h"

#include <array>
#include <charconv>

namespace mbx::pst {

namespace {

// How much a reader's window holds. The writer lays each message's blocks out together and
// the messages in order, so a reader going through nodes in order finds most blocks in it.
constexpr std::size_t kWindowSize = std::size_t{256} << 10;
// A window moved to an offset starts this much before it: a node's blocks lie a little before
// as well as after the one asked for.
constexpr std::uint64_t kWindowLead = 32 * 1024;

} // namespace

NdbReader::NdbReader(const std::filesystem::path& path) {
    auto shared = std::make_shared<Shared>();
    if (!shared->file.open(path))
        throw PstError("cannot open " + platform::utf8FromPath(path));
    shared->size = shared->file.size();
    shared_ = shared; // (loaded through this reader, before any other shares it)
    load(*shared);
}

NdbReader::NdbReader(const std::filesystem::path& path, ByteView header) {
    auto shared = std::make_shared<Shared>();
    if (!shared->file.open(path))
        throw PstError("cannot open " + platform::utf8FromPath(path));
    shared->size = shared->file.size();
    shared_ = shared;
    load(*shared, header);
}

NdbReader::NdbReader(const Bytes& image) {
    auto shared = std::make_shared<Shared>();
    shared->image = &image;
    shared->size = image.size();
    shared_ = shared;
    load(*shared);
}

NdbReader::NdbReader(std::shared_ptr<const Shared> shared) : shared_(std::move(shared)) {}

NdbReader::~NdbReader() = default;
NdbReader::NdbReader(NdbReader&&) noexcept = default;
NdbReader& NdbReader::operator=(NdbReader&&) noexcept = default;

NdbReader NdbReader::sibling() const {
    NdbReader other(shared_);
    other.audit_ = audit_;
    return other;
}

std::string hexNumber(std::uint64_t v) {
    char digits[2 + 16];
    digits[0] = '0';
    digits[1] = 'x';
    const auto end = std::to_chars(digits + 2, digits + sizeof digits, v, 16).ptr;
    return std::string(digits, end);
}

std::vector<std::string> blockFaults(const BbtEntry& e, ByteView stored) {
    std::vector<std::string> faults;
    const auto what = [&e] { return "block " + hexNumber(e.bid) + " at " + hexNumber(e.ib); };
    const BlockTrailer t = BlockTrailer::decode(stored.data() + stored.size() - kTrailerSize);
    if (t.cb != e.cb)
        faults.push_back(what() + ": trailer size " + std::to_string(t.cb) + " but BBT says " +
                         std::to_string(e.cb));
    if (t.signature != blockSignature(e.ib, e.bid))
        faults.push_back(what() + ": bad block signature");
    if (t.crc != crc32(stored.first(e.cb)))
        faults.push_back(what() + ": block CRC mismatch");
    if (t.bid != e.bid)
        faults.push_back(what() + ": trailer BID " + hexNumber(t.bid));
    return faults;
}

BlockAudit::BlockAudit(std::size_t blocks) : seen_(new std::atomic<bool>[blocks]) {
    for (std::size_t i = 0; i < blocks; ++i)
        seen_[i].store(false, std::memory_order_relaxed);
}

void BlockAudit::verify(std::size_t position, const BbtEntry& entry, ByteView stored) {
    if (seen_[position].exchange(true, std::memory_order_relaxed))
        return;
    auto found = blockFaults(entry, stored);
    if (found.empty())
        return;
    std::lock_guard lock(mutex_);
    for (auto& f : found)
        if (faults_.size() < 200)
            faults_.push_back(std::move(f));
}

std::vector<std::string> BlockAudit::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

ByteView NdbReader::blockData(BlockIndex::const_iterator it, bool apart, Bytes& own) const {
    const BbtEntry& e = *it;
    const std::size_t size = audit_ ? static_cast<std::size_t>(blockStoredSize(e.cb)) : e.cb;
    ByteView stored;
    if (apart) {
        own = readApart(e.ib, size);
        stored = own;
    } else {
        stored = viewAt(e.ib, size);
    }
    if (audit_)
        audit_->verify(blocks().position(it), e, stored);
    return stored.first(e.cb);
}

void NdbReader::load(Shared& shared, std::optional<ByteView> given) {
    if (shared.size < kFirstAMapOffset)
        throw PstError("file too short for a PST");
    if (given && given->size() != kHeaderSize)
        throw PstError("a header of " + std::to_string(given->size()) + " bytes");
    shared.header = given ? Header::decode(*given) : Header::decode(readAt(0, kHeaderSize));
    const DecodedHeader& header = shared.header;
    if (!header.magicOk || !header.clientMagicOk)
        throw PstError("not a PST file (bad magic)");
    if (!header.partialCrcOk || !header.fullCrcOk)
        throw PstError("header checksum mismatch");
    if (header.header.version < 23 || header.header.version >= 36)
        throw PstError("not a Unicode PST (wVer " + std::to_string(header.header.version) + ")");
    if (header.header.cryptMethod > 1)
        throw PstError("unsupported encoding " + std::to_string(header.header.cryptMethod));
    // Counted first, so that each index takes its size once (a data file of a few hundred
    // thousand messages has millions of blocks; a growing array would briefly hold two copies).
    std::size_t nodes = 0;
    std::size_t blocks = 0;
    loadTree(shared, header.header.nbt, true, 0, &nodes);
    loadTree(shared, header.header.bbt, false, 0, &blocks);
    shared.nodes.reserve(nodes);
    shared.blocks.reserve(blocks);
    loadTree(shared, header.header.nbt, true, 0);
    loadTree(shared, header.header.bbt, false, 0);
    shared.nodes.finish();
    shared.blocks.finish();
}

const std::uint8_t* NdbReader::locate(std::uint64_t offset, std::size_t size) const {
    const Shared& shared = *shared_;
    if (offset > shared.size || size > shared.size - offset)
        throw PstError("read beyond the end of the file");
    if (shared.image != nullptr)
        return shared.image->data() + offset;
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        const Window& w = windows_[i];
        if (w.data != nullptr && offset >= w.offset && offset + size <= w.offset + w.size) {
            lastUsed_ = i;
            return w.data + (offset - w.offset);
        }
    }
    std::uint64_t start =
        size <= kWindowSize - kWindowLead ? offset - std::min(offset, kWindowLead) : offset;
    // Reading on from the window last used, the new one overlaps it by a block's size only (a
    // block may begin in it and end past it); what lies wholly before is still in it.
    if (const Window& recent = windows_[lastUsed_];
        recent.data != nullptr && offset >= recent.offset) {
        const std::uint64_t end = recent.offset + recent.size;
        start = std::max(start, std::min(offset, end - std::min(end, kMaxBlockSize)));
    }
    lastUsed_ = 1 - lastUsed_;
    Window& w = windows_[lastUsed_];
    const std::size_t capacity = std::max(kWindowSize, size);
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, shared.size - start));
    w.data = nullptr;
    w.size = 0;
    int error = 0;
    if (!w.bytes || capacity > kWindowSize)
        w.bytes.reset(new std::uint8_t[capacity]); // not zeroed: filled by the read
    const std::size_t got =
        shared.file.readAt(reinterpret_cast<char*>(w.bytes.get()), want, start, error);
    if (got != want)
        throw PstError("read error");
    w.data = w.bytes.get();
    w.offset = start;
    w.size = got;
    return w.data + (offset - start);
}

Bytes NdbReader::readApart(std::uint64_t offset, std::size_t size) const {
    const Shared& shared = *shared_;
    if (shared.image != nullptr || offset > shared.size || size > shared.size - offset)
        return readAt(offset, size);
    Bytes out(size);
    int error = 0;
    if (shared.file.readAt(reinterpret_cast<char*>(out.data()), size, offset, error) != size)
        throw PstError("read error");
    return out;
}

Bytes NdbReader::readAt(std::uint64_t offset, std::size_t size) const {
    const std::uint8_t* at = locate(offset, size);
    return Bytes(at, at + size);
}

void NdbReader::loadTree(Shared& shared, BlockRef ref, bool nodeTree, int depth,
                         std::size_t* count) const {
    if (depth > 9)
        throw PstError("B-tree too deep");
    // A copy on the stack: reading a child page may move the window.
    std::array<std::uint8_t, kPageSize> page;
    const ByteView at = viewAt(ref.ib, kPageSize);
    std::copy(at.begin(), at.end(), page.begin());
    const BTPage counts = BTPage::decode(page.data());
    const unsigned cbEnt = counts.cbEnt;
    const std::size_t want = counts.cLevel > 0 ? BTEntry::kSize
                             : nodeTree        ? NbtEntry::kSize
                                               : BbtEntry::kSize;
    if (cbEnt == 0 || counts.cEnt * cbEnt > BTPage::kEntriesSize || cbEnt < want)
        throw PstError("corrupt B-tree page");
    if (counts.cLevel == 0 && count != nullptr) {
        *count += counts.cEnt;
        return;
    }
    for (unsigned i = 0; i < counts.cEnt; ++i) {
        const std::uint8_t* e = page.data() + i * cbEnt;
        if (counts.cLevel > 0) {
            loadTree(shared, BTEntry::decode(e).ref, nodeTree, depth + 1, count);
        } else if (nodeTree) {
            const NbtEntry n = NbtEntry::decode(e);
            shared.nodes.add(n);
        } else {
            const BbtEntry b = BbtEntry::decode(e);
            shared.blocks.add(b);
        }
    }
}

const NbtEntry& NdbReader::node(Nid nid) const {
    auto it = nodes().find(nid);
    if (it == nodes().end())
        throw PstError("node " + std::to_string(nid) + " not found");
    return *it;
}

Bytes NdbReader::readBlock(Bid bid) const {
    auto it = blocks().find(bid & ~Bid{1});
    if (it == blocks().end())
        throw PstError("block " + std::to_string(bid) + " not found");
    Bytes own;
    const ByteView data = blockData(it, false, own);
    Bytes b(data.begin(), data.end());
    if (permuted() && !bidIsInternal(bid))
        permuteDecode(b.data(), b.size());
    return b;
}

void NdbReader::visitStreamBlocks(Bid root, const std::function<void(ByteView)>& each) const {
    if (root == 0)
        return;
    Bytes decoded; // a block of a permuted file, decoded
    // A data block as it lies in a window or read on its own, decoded when the file is permuted.
    const auto dataBlock = [&](Bid bid, BlockIndex::const_iterator e, bool apart) {
        Bytes own;
        ByteView view = blockData(e, apart, own);
        if (permuted() && !bidIsInternal(bid)) {
            decoded.assign(view.begin(), view.end());
            permuteDecode(decoded.data(), decoded.size());
            view = decoded;
        }
        each(view);
    };
    const auto entry = [this](Bid bid) {
        const auto it = blocks().find(bid & ~Bid{1});
        if (it == blocks().end())
            throw PstError("block " + std::to_string(bid) + " not found");
        return it;
    };
    if (!bidIsInternal(root)) {
        dataBlock(root, entry(root), false);
        return;
    }
    const Bytes b = readBlock(root); // kept: reading the children moves the windows
    if (b.size() < InternalBlockHead::kSize || b[0] != InternalBlockHead::kDataTree)
        throw PstError("bad XBLOCK");
    const InternalBlockHead head = InternalBlockHead::decode(b.data());
    const unsigned n = head.cEnt;
    if (InternalBlockHead::kSize + sizeof(Bid) * n > b.size())
        throw PstError("bad XBLOCK size");
    // The blocks of a stream written at once lie side by side, and the windows serve them. Those
    // of one that grew while other data was written (the heap and rows of a large folder's
    // contents table) lie far apart: each is read on its own rather than moving a window for it.
    std::uint64_t previousEnd = 0;
    for (unsigned i = 0; i < n; ++i) {
        const Bid child = readLe64(b.data() + InternalBlockHead::kSize + sizeof(Bid) * i);
        if (head.cLevel == 2) {
            visitStreamBlocks(child, each);
            continue;
        }
        const auto it = entry(child);
        const BbtEntry& e = *it;
        dataBlock(child, it, i > 0 && (e.ib < previousEnd || e.ib - previousEnd > kWindowLead));
        previousEnd = e.ib + blockStoredSize(e.cb);
    }
}

void NdbReader::readStreamBlocks(Bid root, const std::function<void(Bytes&)>& each) const {
    visitStreamBlocks(root, [&each](ByteView block) {
        Bytes copy(block.begin(), block.end());
        each(copy);
    });
}

std::vector<Bytes> NdbReader::readStreamBlocks(Bid root) const {
    std::vector<Bytes> out;
    readStreamBlocks(root, [&out](Bytes& block) { out.push_back(std::move(block)); });
    return out;
}

Bytes NdbReader::readStream(Bid root) const {
    auto blocks = readStreamBlocks(root);
    if (blocks.size() == 1)
        return std::move(blocks.front());
    std::size_t size = 0;
    for (const auto& b : blocks)
        size += b.size();
    Bytes out;
    out.reserve(size);
    for (const auto& b : blocks)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

std::map<Nid, SubnodeEntry> NdbReader::readSubnodes(Bid root) const {
    std::map<Nid, SubnodeEntry> out;
    if (root == 0)
        return out;
    const Bytes b = readBlock(root);
    if (b.size() < InternalBlockHead::kSize || b[0] != InternalBlockHead::kSubnodeTree)
        throw PstError("bad subnode block");
    const InternalBlockHead head = InternalBlockHead::decode(b.data());
    const std::size_t size = head.cLevel == 0 ? SubnodeEntry::kSize : SubnodeIndexEntry::kSize;
    if (InternalBlockHead::kSize + size * head.cEnt > b.size())
        throw PstError("bad subnode block size");
    for (unsigned i = 0; i < head.cEnt; ++i) {
        const std::uint8_t* e = b.data() + InternalBlockHead::kSize + size * i;
        if (head.cLevel == 0) {
            const SubnodeEntry s = SubnodeEntry::decode(e);
            out[s.nid] = s;
        } else {
            for (auto& [nid, s] : readSubnodes(SubnodeIndexEntry::decode(e).bid))
                out[nid] = s;
        }
    }
    return out;
}

} // namespace mbx::pst
