#include "mailstore/pst/ndb/reader.h"

#include "mailstore/pst/ndb/permute.h"
#include "platform/file.h"

namespace mbx::pst {

NdbReader::NdbReader(const std::filesystem::path& path) : path_(path) {
    if (!file_.open(path))
        throw PstError("cannot open " + platform::utf8FromPath(path));
    size_ = file_.size();
    load();
}

NdbReader::~NdbReader() = default;

NdbReader::NdbReader(const Bytes& image) : image_(&image), size_(image.size()) {
    load();
}

void NdbReader::load() {
    if (size_ < kFirstAMapOffset)
        throw PstError("file too short for a PST");
    header_ = Header::decode(readAt(0, kHeaderSize));
    if (!header_.magicOk || !header_.clientMagicOk)
        throw PstError("not a PST file (bad magic)");
    if (!header_.partialCrcOk || !header_.fullCrcOk)
        throw PstError("header checksum mismatch");
    if (header_.header.version < 23 || header_.header.version >= 36)
        throw PstError("not a Unicode PST (wVer " + std::to_string(header_.header.version) + ")");
    if (header_.header.cryptMethod > 1)
        throw PstError("unsupported encoding " + std::to_string(header_.header.cryptMethod));
    loadTree(header_.header.nbt, true, 0);
    loadTree(header_.header.bbt, false, 0);
    nodes_.finish();
    blocks_.finish();
}

Bytes NdbReader::readAt(std::uint64_t offset, std::size_t size) const {
    if (offset > size_ || size > size_ - offset)
        throw PstError("read beyond the end of the file");
    if (image_ != nullptr)
        return Bytes(image_->begin() + static_cast<std::ptrdiff_t>(offset),
                     image_->begin() + static_cast<std::ptrdiff_t>(offset + size));
    Bytes b(size);
    std::size_t got = 0;
    {
        // The structure check and the read-back share one reader from two threads.
        const std::lock_guard lock(fileMutex_);
        got = file_.readAt(reinterpret_cast<char*>(b.data()), size, offset);
    }
    if (got != size)
        throw PstError("read error");
    return b;
}

void NdbReader::loadTree(BlockRef ref, bool nodeTree, int depth) {
    if (depth > 9)
        throw PstError("B-tree too deep");
    const Bytes page = readAt(ref.ib, kPageSize);
    const BTPage counts = BTPage::decode(page.data());
    const unsigned cbEnt = counts.cbEnt;
    const std::size_t want = counts.cLevel > 0 ? BTEntry::kSize
                             : nodeTree        ? NbtEntry::kSize
                                               : BbtEntry::kSize;
    if (cbEnt == 0 || counts.cEnt * cbEnt > BTPage::kEntriesSize || cbEnt < want)
        throw PstError("corrupt B-tree page");
    for (unsigned i = 0; i < counts.cEnt; ++i) {
        const std::uint8_t* e = page.data() + i * cbEnt;
        if (counts.cLevel > 0) {
            loadTree(BTEntry::decode(e).ref, nodeTree, depth + 1);
        } else if (nodeTree) {
            const NbtEntry n = NbtEntry::decode(e);
            nodes_.add(n.nid, n);
        } else {
            const BbtEntry b = BbtEntry::decode(e);
            blocks_.add(b.bid & ~Bid{1}, b);
        }
    }
}

const NbtEntry& NdbReader::node(Nid nid) const {
    auto it = nodes_.find(nid);
    if (it == nodes_.end())
        throw PstError("node " + std::to_string(nid) + " not found");
    return it->second;
}

Bytes NdbReader::readBlock(Bid bid) const {
    auto it = blocks_.find(bid & ~Bid{1});
    if (it == blocks_.end())
        throw PstError("block " + std::to_string(bid) + " not found");
    const BbtEntry& e = it->second;
    Bytes b = readAt(e.ib, e.cb);
    if (permuted() && !bidIsInternal(bid))
        permuteDecode(b.data(), b.size());
    return b;
}

std::vector<Bytes> NdbReader::readStreamBlocks(Bid root) const {
    std::vector<Bytes> out;
    if (root == 0)
        return out;
    Bytes b = readBlock(root);
    if (!bidIsInternal(root)) {
        out.push_back(std::move(b));
        return out;
    }
    if (b.size() < InternalBlockHead::kSize || b[0] != InternalBlockHead::kDataTree)
        throw PstError("bad XBLOCK");
    const InternalBlockHead head = InternalBlockHead::decode(b.data());
    const unsigned n = head.cEnt;
    if (InternalBlockHead::kSize + sizeof(Bid) * n > b.size())
        throw PstError("bad XBLOCK size");
    for (unsigned i = 0; i < n; ++i) {
        const Bid child = readLe64(b.data() + InternalBlockHead::kSize + sizeof(Bid) * i);
        if (head.cLevel == 2) {
            auto sub = readStreamBlocks(child);
            for (auto& s : sub)
                out.push_back(std::move(s));
        } else {
            out.push_back(readBlock(child));
        }
    }
    return out;
}

Bytes NdbReader::readStream(Bid root) const {
    Bytes out;
    for (const auto& b : readStreamBlocks(root))
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
