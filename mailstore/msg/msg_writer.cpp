// The storage tree of a .msg file: the top-level message, its recipient and attachment rows,
// attached mails nested in their attachments, and the named-property map; then the compound
// file written to disk or memory.
#include "mailstore/msg/msg_writer.h"

#include "mailstore/cfb/compound_file.h"
#include "mailstore/cfb/output.h"
#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/msg/named_map.h"
#include "mailstore/msg/properties.h"
#include "platform/file.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace mbx::msg {

namespace {

namespace tags = mapi::tags;
using cfb::CompoundFile;

// {00020D0B-0000-0000-C000-000000000046}, the class of an Outlook message file, in the byte order
// the directory entry stores it.
constexpr cfb::Clsid kMsgClsid = {0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kMaxRows = 2048; // recipients or attachments per message

enum class Level { Top, Embedded };

// "__recip_version1.0_#0000000A" and the like: a prefix and eight upper-case hex digits.
std::string rowName(const char* prefix, std::uint32_t number) {
    std::string name(prefix);
    for (int shift = 28; shift >= 0; shift -= 4) {
        name.push_back("0123456789ABCDEF"[(number >> shift) & 0xF]);
    }
    return name;
}

std::size_t entryCount(const mapi::PropertyBag& bag) {
    return bag.properties().size() + bag.named().size();
}

class TreeWriter {
public:
    TreeWriter(const mapi::Message& root, CompoundFile& file) : names_(root), file_(file) {}

    void message(CompoundFile::Id storage, const mapi::Message& m, Level level);
    void nameidStorage();
    std::vector<std::string> takeNotes() { return std::move(notes_); }

private:
    NamedPropertyMap names_;
    CompoundFile& file_;
    std::vector<std::string> notes_;
    std::string within_; // "" at the top, else where the attached mail being written sits
};

void TreeWriter::message(CompoundFile::Id s, const mapi::Message& m, Level level) {
    // A .msg holds at most 2048 recipient rows and 2048 attachments per message. Mail sent to
    // more keeps every address in its display lists and transport headers; attachments beyond
    // the limit are left out. Either is noted for the caller.
    const std::size_t recipientRows = std::min<std::size_t>(m.recipients.size(), kMaxRows);
    const std::size_t attachmentRows = std::min<std::size_t>(m.attachments.size(), kMaxRows);
    if (recipientRows < m.recipients.size()) {
        notes_.push_back(within_ + std::to_string(m.recipients.size() - recipientRows) + " of " +
                         std::to_string(m.recipients.size()) +
                         " recipients have no row of their own (a .msg holds 2048); their "
                         "addresses remain in the To/Cc/Bcc lines");
    }
    if (attachmentRows < m.attachments.size()) {
        const auto& first = m.attachments[attachmentRows].props;
        const std::string name = first.string(tags::AttachLongFilename)
                                     .value_or(first.string(tags::DisplayName).value_or(""));
        notes_.push_back(within_ + std::to_string(m.attachments.size() - attachmentRows) + " of " +
                         std::to_string(m.attachments.size()) +
                         " attachments left out (a .msg holds 2048), from number " +
                         std::to_string(attachmentRows + 1) +
                         (name.empty() ? std::string() : " \"" + name + "\"") + " on");
    }
    PropertyStream props(file_, s, level == Level::Top ? 32 : 24, entryCount(m.props) + 1);
    // Unicode strings are only valid when the store says so.
    props.addBag(m.props, names_,
                 {{tags::StoreSupportMask,
                   m.props.int32(tags::StoreSupportMask).value_or(0) | tags::StoreUnicodeOk}},
                 false);

    for (std::size_t i = 0; i < recipientRows; ++i) {
        const auto& row = m.recipients[i].props;
        const auto r =
            file_.addStorage(s, rowName("__recip_version1.0_#", static_cast<std::uint32_t>(i)));
        PropertyStream rowProps(file_, r, 8, entryCount(row));
        rowProps.addBag(row, names_, {}, false);
        rowProps.finish();
    }
    for (std::size_t i = 0; i < attachmentRows; ++i) {
        const auto& att = m.attachments[i];
        const auto a =
            file_.addStorage(s, rowName("__attach_version1.0_#", static_cast<std::uint32_t>(i)));
        PropertyStream rowProps(file_, a, 8, entryCount(att.props) + 2);
        PropertyStream::Overrides method;
        if (att.embedded) {
            method.emplace_back(tags::AttachMethod, tags::AttachEmbeddedMessage);
        }
        rowProps.addBag(att.props, names_, method, att.embedded != nullptr);
        if (att.embedded) {
            // The attached mail is a storage of its own: size 0xFFFFFFFF, reserved 1.
            std::uint8_t value[8];
            writeLe32(value, 0xFFFFFFFFu);
            writeLe32(value + 4, 1);
            rowProps.addEntry(tags::AttachDataObject, value);
            const auto inner = file_.addStorage(a, rowName("__substg1.0_", tags::AttachDataObject));
            const std::string outer = within_;
            within_ += "attached mail \"" + att.embedded->props.string(tags::Subject).value_or("") +
                       "\": ";
            message(inner, *att.embedded, Level::Embedded);
            within_ = outer;
        }
        rowProps.finish();
    }

    // Header: 8 reserved bytes, next recipient id, next attachment id, recipient count,
    // attachment count, and for the top level 8 more reserved bytes.
    const auto recips = static_cast<std::uint32_t>(recipientRows);
    const auto atts = static_cast<std::uint32_t>(attachmentRows);
    writeLe32(props.header() + 8, recips);
    writeLe32(props.header() + 12, atts);
    writeLe32(props.header() + 16, recips);
    writeLe32(props.header() + 20, atts);
    props.finish();
}

void TreeWriter::nameidStorage() {
    const auto n = file_.addStorage(CompoundFile::kRoot, "__nameid_version1.0");
    for (auto& stream : names_.streams()) {
        file_.addStream(n, stream.name, std::move(stream.data));
    }
}

// Builds the whole tree of `message`; large values stay in the model and are written from there.
MsgResult build(const mapi::Message& message, CompoundFile& file) {
    TreeWriter w(message, file);
    w.nameidStorage();
    w.message(CompoundFile::kRoot, message, Level::Top);
    return MsgResult{w.takeNotes()};
}

// Writes the file at `path`; with `keep`, hands it over open.
MsgResult writeFile(const mapi::Message& message, const std::filesystem::path& path,
                    platform::File* keep) {
    try {
        CompoundFile file(kMsgClsid);
        MsgResult result = build(message, file);
        cfb::FileOutput out(path, keep != nullptr);
        file.write(out);
        out.commit(keep);
        return result;
    } catch (const std::system_error& e) {
        throw MsgError(e.what(), e.code());
    } catch (const MsgError& e) {
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")", e.code());
    } catch (const cfb::CfbError& e) {
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")");
    }
}

} // namespace

MsgResult writeMsg(const mapi::Message& message, const std::filesystem::path& path) {
    return writeFile(message, path, nullptr);
}

MsgResult writeMsg(const mapi::Message& message, const std::filesystem::path& path,
                   platform::File& keep) {
    return writeFile(message, path, &keep);
}

MsgResult writeMsg(const mapi::Message& message, std::vector<std::uint8_t>& image) {
    try {
        CompoundFile file(kMsgClsid);
        MsgResult result = build(message, file);
        cfb::MemoryOutput out(image);
        file.write(out);
        return result;
    } catch (const cfb::CfbError& e) {
        throw MsgError(e.what());
    }
}

} // namespace mbx::msg
