#include "mailstore/pst/read/store_reader.h"

#include "mailstore/mapi/digest.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ltp/heap.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/ltp/tc.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace mbx::pst {

namespace {

namespace tags = mapi::tags;
using Props = std::map<PropTag, Bytes>;

std::string textOf(const Props& props, PropTag tag) {
    const auto it = props.find(tag);
    if (it == props.end()) {
        return {};
    }
    std::u16string utf16(it->second.size() / 2, u'\0');
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        utf16[i] = static_cast<char16_t>(readLe16(it->second.data() + 2 * i));
    }
    return mapi::utf16ToUtf8(utf16);
}

std::uint32_t rowIdOf(const Props& row) {
    const auto it = row.find(kLtpRowId);
    if (it == row.end() || it->second.size() < 4) {
        throw PstError("table row without a row id");
    }
    return readLe32(it->second.data());
}

// A message's heap read back, refused when damaged: the structure check of a conversion's
// read-back leaves the messages' heaps to it (pst::MessageDepth::Nodes).
HeapReader messageHeap(const NdbReader& ndb, Bid data) {
    HeapReader heap(ndb.readStreamBlocks(data));
    if (const auto faults = heap.validate(); !faults.empty()) {
        throw PstError(faults.front());
    }
    return heap;
}

template <class Content> Content checked(Content content) {
    if (!content.faults.empty()) {
        throw PstError(content.faults.front());
    }
    return content;
}

// The digests of a message's (or an attachment's) values of `tags`. A value in the heap is
// digested where it lies and one in a subnode a block at a time: an attachment of hundreds of
// megabytes is never held whole.
class StoredDigests {
public:
    StoredDigests(const NdbReader& ndb, Bid data, const std::map<Nid, SubnodeEntry>& subs,
                  std::span<const PropTag> tags) {
        const auto faults = visitPropertyContext(
            messageHeap(ndb, data), subs, &tags,
            [&](PropTag tag, ByteView bytes, const SubnodeEntry* stream) {
                // The subject is stored marked: U+0001 and the prefix length come before the
                // text.
                const bool marked = tag == tags::Subject;
                if (tag == tags::AttachDataObject) {
                    // The attached message's subnode, in the value's first four bytes.
                    const Bytes value = stream != nullptr ? ndb.readStream(stream->data)
                                                          : Bytes(bytes.begin(), bytes.end());
                    if (value.size() >= 4) {
                        object_ = readLe32(value.data());
                    }
                }
                values_.emplace_back(tag, stream != nullptr
                                              ? digestOfStream(ndb, stream->data, marked)
                                              : digestOfBytes(tag, bytes, marked));
            });
        if (!faults.empty()) {
            throw PstError(faults.front());
        }
    }
    mapi::ValueDigest value(PropTag tag) const {
        for (const auto& [t, v] : values_) {
            if (t == tag) {
                return v;
            }
        }
        return {};
    }
    // The subnode of the attached message, if the values hold one.
    std::optional<Nid> object() const { return object_; }

private:
    static bool isMarked(ByteView start) {
        return start.size() >= 4 && readLe16(start.data()) == 1;
    }
    static mapi::ValueDigest digestOfBytes(PropTag tag, ByteView bytes, bool marked) {
        if (marked && isMarked(bytes)) {
            bytes = bytes.subspan(4);
        }
        return mapi::digestOf(mapi::propType(tag), bytes.data(), bytes.size());
    }
    static mapi::ValueDigest digestOfStream(const NdbReader& ndb, Bid data, bool marked) {
        mapi::Digest digest;
        std::uint64_t size = 0;
        ndb.visitStreamBlocks(data, [&](ByteView piece) {
            if (std::exchange(marked, false) && isMarked(piece)) {
                piece = piece.subspan(4);
            }
            digest.add(piece);
            size += piece.size();
        });
        return size > 0 ? mapi::ValueDigest{size, digest.value()} : mapi::ValueDigest{};
    }

    std::vector<std::pair<PropTag, mapi::ValueDigest>> values_;
    std::optional<Nid> object_;
};

// A message's table, each row checked and kept with the cells of `tags`.
TableContextContent messageTable(const NdbReader& ndb, const SubnodeEntry& table,
                                 std::span<const PropTag> tags) {
    return checked(
        readTableContext(ndb, messageHeap(ndb, table.data), ndb.readSubnodes(table.sub), tags));
}

constexpr PropTag kRowIdOnly[] = {kLtpRowId};

// A message (or an attached message) from its property context and subnodes: the values a
// print takes (mapi::kMessagePrintTags and so on), as digests.
class StoredMessage : public mapi::MessageView {
public:
    StoredMessage(const NdbReader& ndb, Bid data, Bid sub)
        : ndb_(ndb), subs_(ndb.readSubnodes(sub)),
          values_(ndb, data, subs_, mapi::kMessagePrintTags) {
        if (const auto r = subs_.find(nids::RecipientTable); r != subs_.end()) {
            recipients_ = messageTable(ndb, r->second, mapi::kRecipientPrintTags).rows;
        }
        if (const auto a = subs_.find(nids::AttachmentTable); a != subs_.end()) {
            const auto table = messageTable(ndb, a->second, kRowIdOnly);
            attachments_.reserve(table.rows.size());
            for (const auto& row : table.rows) {
                const auto s = subs_.find(rowIdOf(row));
                if (s == subs_.end()) {
                    throw PstError("an attachment of the table is missing");
                }
                attachments_.push_back(
                    {StoredDigests(ndb, s->second.data, ndb.readSubnodes(s->second.sub),
                                   mapi::kAttachmentPrintTags),
                     s->second.sub});
            }
        }
    }

    mapi::ValueDigest value(PropTag tag) const override { return values_.value(tag); }
    std::size_t recipientCount() const override { return recipients_.size(); }
    mapi::ValueDigest recipientValue(std::size_t row, PropTag tag) const override {
        return mapi::storedValue(recipients_[row], tag);
    }
    std::size_t attachmentCount() const override { return attachments_.size(); }
    mapi::ValueDigest attachmentValue(std::size_t index, PropTag tag) const override {
        return attachments_[index].values.value(tag);
    }
    std::unique_ptr<mapi::MessageView> embedded(std::size_t index) const override {
        const auto& a = attachments_[index];
        const auto object = a.values.object();
        if (!object) {
            return nullptr;
        }
        const auto subs = ndb_.readSubnodes(a.sub);
        const auto inner = subs.find(*object);
        if (inner == subs.end()) {
            throw PstError("an attached message is missing");
        }
        return std::make_unique<StoredMessage>(ndb_, inner->second.data, inner->second.sub);
    }

private:
    struct Attachment {
        StoredDigests values;
        Bid sub = 0;
    };
    const NdbReader& ndb_;
    std::map<Nid, SubnodeEntry> subs_;
    StoredDigests values_;
    std::vector<Props> recipients_;
    std::vector<Attachment> attachments_;
};

} // namespace

StoreReader::StoreReader(const std::filesystem::path& path)
    : own_(std::make_unique<NdbReader>(path)), ndb_(*own_) {}

std::vector<StoredFolder> StoreReader::folders() const {
    std::vector<StoredFolder> out;
    // (folder, path of its parent)
    std::vector<std::pair<Nid, std::string>> pending;
    // A table's row ids in row order (the order the rows were added), from its row index alone.
    const auto rowsOf = [this](Nid nid) {
        const auto& node = ndb_.node(nid);
        auto index = readTableContext(ndb_, node.data, ndb_.readSubnodes(node.sub), false).rowIndex;
        std::sort(index.begin(), index.end(),
                  [](const auto& a, const auto& b) { return a.second < b.second; });
        std::vector<Nid> ids;
        ids.reserve(index.size());
        for (const auto& [id, row] : index) {
            ids.push_back(id);
        }
        return ids;
    };
    for (const Nid child : rowsOf(withType(nids::IpmSubtree, NidType::HierarchyTable))) {
        pending.emplace_back(child, std::string());
    }
    std::size_t next = 0;
    while (next < pending.size()) {
        const auto [nid, parent] = pending[next++];
        const auto& node = ndb_.node(nid);
        const auto props = readPropertyContext(ndb_, node.data, ndb_.readSubnodes(node.sub)).props;
        StoredFolder folder;
        folder.nid = nid;
        const auto name = textOf(props, tags::DisplayName);
        folder.path = parent.empty() ? name : parent + "\\" + name;
        if (const auto count = props.find(tags::ContentCount);
            count != props.end() && count->second.size() >= 4) {
            folder.contentCount = readLe32(count->second.data());
        }
        folder.messages = rowsOf(withType(nid, NidType::ContentsTable));
        for (const Nid child : rowsOf(withType(nid, NidType::HierarchyTable))) {
            pending.emplace_back(child, folder.path);
        }
        out.push_back(std::move(folder));
        if (pending.size() > ndb_.nodes().size()) {
            throw PstError("the folder tree loops");
        }
    }
    return out;
}

std::unique_ptr<mapi::MessageView> StoreReader::message(Nid nid) const {
    const auto& node = ndb_.node(nid);
    return std::make_unique<StoredMessage>(ndb_, node.data, node.sub);
}

} // namespace mbx::pst
