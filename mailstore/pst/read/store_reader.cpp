#include "mailstore/pst/read/store_reader.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ltp/heap.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/ltp/tc.h"

#include <algorithm>

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

// The values of `tags`; the others are only looked up.
Props messageProps(const NdbReader& ndb, Bid data, const std::map<Nid, SubnodeEntry>& subs,
                   std::span<const PropTag> tags) {
    return checked(readPropertyContext(ndb, messageHeap(ndb, data), subs, tags)).props;
}

// A message's table, each row checked and kept with the cells of `tags`.
TableContextContent messageTable(const NdbReader& ndb, const SubnodeEntry& table,
                                 std::span<const PropTag> tags) {
    return checked(
        readTableContext(ndb, messageHeap(ndb, table.data), ndb.readSubnodes(table.sub), tags));
}

constexpr PropTag kRowIdOnly[] = {kLtpRowId};

// A message (or an attached message) from its property context and subnodes: the values a
// print takes (mapi::kMessagePrintTags and so on).
class StoredMessage : public mapi::MessageView {
public:
    StoredMessage(const NdbReader& ndb, Bid data, Bid sub) : ndb_(ndb) {
        subs_ = ndb.readSubnodes(sub);
        props_ = messageProps(ndb, data, subs_, mapi::kMessagePrintTags);
        // The subject is stored marked: U+0001 and the prefix length come before the text.
        if (auto it = props_.find(tags::Subject);
            it != props_.end() && it->second.size() >= 4 && readLe16(it->second.data()) == 1) {
            it->second.erase(it->second.begin(), it->second.begin() + 4);
        }
        if (const auto r = subs_.find(nids::RecipientTable); r != subs_.end()) {
            recipients_ = messageTable(ndb, r->second, mapi::kRecipientPrintTags).rows;
        }
        if (const auto a = subs_.find(nids::AttachmentTable); a != subs_.end()) {
            const auto table = messageTable(ndb, a->second, kRowIdOnly);
            for (const auto& row : table.rows) {
                const auto s = subs_.find(rowIdOf(row));
                if (s == subs_.end()) {
                    throw PstError("an attachment of the table is missing");
                }
                const auto inner = ndb.readSubnodes(s->second.sub);
                attachments_.push_back(
                    {messageProps(ndb, s->second.data, inner, mapi::kAttachmentPrintTags),
                     s->second.sub});
            }
        }
    }

    mapi::ValueDigest value(PropTag tag) const override { return mapi::storedValue(props_, tag); }
    std::size_t recipientCount() const override { return recipients_.size(); }
    mapi::ValueDigest recipientValue(std::size_t row, PropTag tag) const override {
        return mapi::storedValue(recipients_[row], tag);
    }
    std::size_t attachmentCount() const override { return attachments_.size(); }
    mapi::ValueDigest attachmentValue(std::size_t index, PropTag tag) const override {
        return mapi::storedValue(attachments_[index].props, tag);
    }
    std::unique_ptr<mapi::MessageView> embedded(std::size_t index) const override {
        const auto& a = attachments_[index];
        const auto object = a.props.find(tags::AttachDataObject);
        if (object == a.props.end() || object->second.size() < 4) {
            return nullptr;
        }
        const auto subs = ndb_.readSubnodes(a.sub);
        const auto inner = subs.find(readLe32(object->second.data()));
        if (inner == subs.end()) {
            throw PstError("an attached message is missing");
        }
        return std::make_unique<StoredMessage>(ndb_, inner->second.data, inner->second.sub);
    }

private:
    struct Attachment {
        Props props;
        Bid sub = 0;
    };
    const NdbReader& ndb_;
    std::map<Nid, SubnodeEntry> subs_;
    Props props_;
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
