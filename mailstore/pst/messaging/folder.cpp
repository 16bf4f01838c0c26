#include "mailstore/pst/messaging/folder.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/pst/ltp/pc.h"
#include "mailstore/pst/messaging/templates.h"

namespace mbx::pst {
namespace {
constexpr PropTag kContentCount = mapi::tags::ContentCount;
constexpr PropTag kContentUnread = mapi::tags::ContentUnreadCount;
constexpr PropTag kSubfolders = mapi::tags::Subfolders;
constexpr PropTag kContainerClass = mapi::tags::ContainerClass;

Bytes u32(std::uint32_t v) {
    Bytes b;
    appendLe32(b, v);
    return b;
}

Bid emptyTable(NdbWriter& ndb, const TcLayout& layout) {
    SubnodeSet none;
    TcWriter t(ndb, layout, none);
    return t.finish();
}
} // namespace

std::vector<EncodedProp> Folder::pcProps() const {
    std::vector<EncodedProp> p{
        {mapi::tags::DisplayName, utf16le(name)},
        {kContentCount, u32(contentCount)},
        {kContentUnread, u32(unreadCount)},
        {kSubfolders, Bytes{static_cast<std::uint8_t>(children.empty() ? 0 : 1)}},
    };
    if (!containerClass.empty())
        p.push_back({kContainerClass, utf16le(containerClass)});
    for (const auto& e : extraProps)
        p.push_back(e);
    return p;
}

std::vector<EncodedProp> Folder::hierarchyCells() const {
    std::vector<EncodedProp> cells = pcProps();
    std::erase_if(cells, [](const EncodedProp& e) { return !templates::hierarchy().find(e.tag); });
    return cells;
}

void writeFolder(NdbWriter& ndb, Folder& f, const std::map<Nid, Folder>& all) {
    {
        SubnodeSet subs;
        const Bid data = writePropertyContext(ndb, subs, f.pcProps());
        ndb.addNode(f.nid, data, subs.write(ndb), f.parent);
    }
    if (f.search) {
        ndb.addNode(withType(f.nid, NidType::SearchUpdateQueue), 0, 0, 0);
        SubnodeSet subs;
        const Bid criteria =
            writePropertyContext(ndb, subs, {{mapi::tags::SearchCriteria660B, u32(0)}});
        ndb.addNode(withType(f.nid, NidType::SearchCriteria), criteria, 0, 0);
        ndb.addNode(withType(f.nid, NidType::SearchContentsTable),
                    emptyTable(ndb, templates::searchContents()), 0, 0);
        return;
    }
    {
        SubnodeSet subs;
        TcWriter table(ndb, templates::hierarchy(), subs);
        for (Nid child : f.children)
            table.addRow(child, all.at(child).hierarchyCells());
        const Bid data = table.finish();
        ndb.addNode(withType(f.nid, NidType::HierarchyTable), data, subs.write(ndb), 0);
    }
    if (f.contents) {
        const Bid data = f.contents->finish();
        ndb.addNode(withType(f.nid, NidType::ContentsTable), data, f.contentsSubs->write(ndb), 0);
        f.contents.reset();
        f.contentsSubs.reset();
    } else {
        ndb.addNode(withType(f.nid, NidType::ContentsTable), emptyTable(ndb, templates::contents()),
                    0, 0);
    }
    ndb.addNode(withType(f.nid, NidType::AssocContentsTable),
                emptyTable(ndb, templates::assocContents()), 0, 0);
}

} // namespace mbx::pst
