// The read side of the node database, used by the structural checker, the read-back and the tests.
// It loads the node and block indexes into memory (as sorted arrays of the on-disk entries: a
// data file of a few hundred thousand messages has millions of blocks) and reads node data on
// demand.
#pragma once

#include "mailstore/pst/ndb/data_tree.h"
#include "mailstore/pst/ndb/disk.h"
#include "mailstore/pst/ndb/ndb_writer.h"
#include "platform/file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mbx::pst {

// Entries of an index sorted by key, looked up by binary search. The key is taken from the
// entry (`KeyOf`), not stored beside it: a data file of a few hundred thousand messages has
// millions of blocks, and a copy of each key would add a third to the block index.
template <class Key, class Entry, class KeyOf> class SortedIndex {
public:
    using value_type = Entry;
    using const_iterator = typename std::vector<Entry>::const_iterator;

    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator find(Key key) const {
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                                         [](const Entry& e, Key k) { return KeyOf()(e) < k; });
        return it != entries_.end() && KeyOf()(*it) == key ? it : entries_.end();
    }
    std::size_t count(Key key) const { return find(key) != end() ? 1 : 0; }
    // The position of `it` in key order.
    std::size_t position(const_iterator it) const {
        return static_cast<std::size_t>(it - entries_.begin());
    }

    void reserve(std::size_t count) { entries_.reserve(count); }
    void add(const Entry& entry) { entries_.push_back(entry); }
    // Sorts what was added; of entries with the same key the one added last stays. (Entries
    // from a sound B-tree come in order: nothing to sort, and no sorting buffer.)
    void finish() {
        const auto before = [](const Entry& a, const Entry& b) { return KeyOf()(a) < KeyOf()(b); };
        if (std::adjacent_find(entries_.begin(), entries_.end(),
                               [&before](const Entry& a, const Entry& b) {
                                   return !before(a, b);
                               }) == entries_.end()) {
            entries_.shrink_to_fit();
            return;
        }
        std::stable_sort(entries_.begin(), entries_.end(), before);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (i + 1 < entries_.size() && KeyOf()(entries_[i + 1]) == KeyOf()(entries_[i])) {
                continue;
            }
            entries_[kept++] = entries_[i];
        }
        entries_.resize(kept);
        entries_.shrink_to_fit();
    }

private:
    std::vector<Entry> entries_;
};

// The keys of the node and block indexes: a node's NID, a block's BID without its reserved bit.
struct NodeKey {
    Nid operator()(const NbtEntry& e) const { return e.nid; }
};
struct BlockKey {
    Bid operator()(const BbtEntry& e) const { return e.bid & ~Bid{1}; }
};
using NodeIndex = SortedIndex<Nid, NbtEntry, NodeKey>;
using BlockIndex = SortedIndex<Bid, BbtEntry, BlockKey>;

// "0x" and the hexadecimal digits of `v`, as the check and the readers name places and ids.
std::string hexNumber(std::uint64_t v);

// What is wrong with a block as stored (its data, padding and trailer) against its BBT entry:
// trailer size, signature, CRC and BID. Empty when sound.
std::vector<std::string> blockFaults(const BbtEntry& entry, ByteView stored);

// The blocks the readers of one file have verified (trailer and CRC) as they read them, and what
// they found wrong: a check that leaves the data blocks to a read-back then verifies only those
// nobody read (see NdbReader::auditBlocks). Readers on several threads may share one.
class BlockAudit {
public:
    explicit BlockAudit(std::size_t blocks);
    bool seen(std::size_t position) const {
        return seen_[position].load(std::memory_order_relaxed);
    }
    // Verifies a block read at `position` of the block index, once.
    void verify(std::size_t position, const BbtEntry& entry, ByteView stored);
    std::vector<std::string> faults() const;

private:
    std::unique_ptr<std::atomic<bool>[]> seen_;
    mutable std::mutex mutex_;
    std::vector<std::string> faults_;
};

class NdbReader {
public:
    // Throws PstError when the file is not a Unicode PST with a valid header.
    explicit NdbReader(const std::filesystem::path& path);
    // The file at `path` with `header` taken for the one it holds (a file whose header is about
    // to be written, read back while its data are synced).
    NdbReader(const std::filesystem::path& path, ByteView header);
    // A data file in memory; `image` must outlive the reader.
    explicit NdbReader(const Bytes& image);
    ~NdbReader();
    NdbReader(NdbReader&&) noexcept;
    NdbReader& operator=(NdbReader&&) noexcept;
    NdbReader(const NdbReader&) = delete;
    NdbReader& operator=(const NdbReader&) = delete;

    // Another reader of the same file for another thread: it shares the open file and the
    // indexes (loaded once) and reads through a window of its own (and the audit, if any).
    NdbReader sibling() const;
    // From now on every block this reader (and its later siblings) reads is verified and
    // marked in `audit`.
    void auditBlocks(std::shared_ptr<BlockAudit> audit) { audit_ = std::move(audit); }

    const Header& header() const { return shared_->header.header; }
    const DecodedHeader& decodedHeader() const { return shared_->header; }
    std::uint64_t fileSize() const { return shared_->size; }
    bool permuted() const { return shared_->header.header.cryptMethod == 1; }

    // Bytes at `offset`. A reader keeps two windows of 256 KiB (or the size of one larger read); a
    // read outside both moves the one used less recently there (one read), so that reading the file
    // front to back takes few reads, and so does walking an index whose upper pages lie apart from
    // the pages they point to (one window stays on each). One reader is for one thread at a time
    // (see sibling()).
    Bytes readAt(std::uint64_t offset, std::size_t size) const;
    // The same bytes read on their own, the windows left where they are: for small reads far
    // apart, such as the allocation map pages (one every 248 KiB through the whole file).
    Bytes readApart(std::uint64_t offset, std::size_t size) const;
    // The same bytes without a copy: valid until the reader's next read.
    ByteView viewAt(std::uint64_t offset, std::size_t size) const {
        return ByteView(locate(offset, size), size);
    }

    const NodeIndex& nodes() const { return shared_->nodes; }
    // Keyed by BID without its reserved low bit.
    const BlockIndex& blocks() const { return shared_->blocks; }
    const NbtEntry& node(Nid nid) const;

    // Data of one block, decoded; throws when the BID is unknown or the trailer disagrees.
    Bytes readBlock(Bid bid) const;
    // The data blocks of a data tree in order (one for a plain block).
    std::vector<Bytes> readStreamBlocks(Bid root) const;
    // The same blocks handed to `each` one at a time (it may keep them), so that a stream of
    // any size is read in the memory of one block.
    void readStreamBlocks(Bid root, const std::function<void(Bytes&)>& each) const;
    // The same blocks without a copy where the file is not permuted: each view is valid during
    // the call only, and `each` must not read through this reader.
    void visitStreamBlocks(Bid root, const std::function<void(ByteView)>& each) const;
    Bytes readStream(Bid root) const;
    std::map<Nid, SubnodeEntry> readSubnodes(Bid root) const;

private:
    // What readers of one file share; not changed once loaded.
    struct Shared {
        platform::File file;
        const Bytes* image = nullptr; // instead of file
        std::uint64_t size = 0;
        DecodedHeader header;
        NodeIndex nodes;
        BlockIndex blocks;
    };
    struct Window {
        std::unique_ptr<std::uint8_t[]> bytes;
        const std::uint8_t* data = nullptr; // bytes', or null before the first read
        std::uint64_t offset = 0;
        std::size_t size = 0;
    };
    explicit NdbReader(std::shared_ptr<const Shared> shared);
    // Where `size` bytes at `offset` are: in the image or in a window, moved when needed.
    const std::uint8_t* locate(std::uint64_t offset, std::size_t size) const;
    // Reads the header (unless given) and the indexes into `shared`, the reader's own.
    void load(Shared& shared, std::optional<ByteView> given = std::nullopt);
    // Adds the entries of a B-tree to `shared`; with `count`, only counts them there.
    void loadTree(Shared& shared, BlockRef ref, bool nodeTree, int depth,
                  std::size_t* count = nullptr) const;

    // A block's data, read with its trailer and verified when the reader audits (else its data
    // alone); `apart` reads it on its own, the windows left where they are. `own` holds what a
    // read apart returns; the view is valid until the next read otherwise.
    ByteView blockData(BlockIndex::const_iterator it, bool apart, Bytes& own) const;

    std::shared_ptr<const Shared> shared_;
    std::shared_ptr<BlockAudit> audit_;
    mutable std::array<Window, 2> windows_;
    mutable std::size_t lastUsed_ = 0; // in windows_
};

} // namespace mbx::pst
