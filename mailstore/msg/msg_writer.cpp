#include "mailstore/msg/msg_writer.h"

#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/msg/named_map.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace mbx::msg {

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace tags = mapi::tags;

// {00020D0B-0000-0000-C000-000000000046}, the class of an Outlook message file, in the byte order
// the directory entry stores it.
constexpr std::uint8_t kMsgClsid[16] = {0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kFlagsReadWrite = tags::PropAttrReadable | tags::PropAttrWritable;
constexpr std::uint32_t kMaxRows = 2048; // recipients or attachments per message

void ensureGsf() {
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

std::string substgName(std::uint32_t tag) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "__substg1.0_%08X", tag);
    return buf;
}

enum class Level { Top, Embedded, Row };

// Owns one GsfOutput/GsfOutfile reference.
struct Unref {
    void operator()(gpointer p) const {
        if (p != nullptr) {
            g_object_unref(p);
        }
    }
};
using OutfilePtr = std::unique_ptr<GsfOutfile, Unref>;

class Writer {
public:
    explicit Writer(const mapi::Message& root) : names_(root) {}

    void message(GsfOutfile* storage, const mapi::Message& m, Level level);
    void nameidStorage(GsfOutfile* root);
    std::vector<std::string> takeNotes() { return std::move(notes_); }

private:
    void stream(GsfOutfile* parent, const std::string& name, const std::uint8_t* data,
                std::size_t size);
    void stream(GsfOutfile* parent, const std::string& name, const Bytes& data) {
        stream(parent, name, data.data(), data.size());
    }
    OutfilePtr storage(GsfOutfile* parent, const std::string& name);
    void close(GsfOutfile* storage);
    // Appends the 16-byte entry of one property to `entries` and writes its value stream(s).
    void property(GsfOutfile* storage, Bytes& entries, mapi::PropTag tag, const mapi::Value& v);
    using Overrides = std::vector<std::pair<mapi::PropTag, mapi::Value>>;
    void bag(GsfOutfile* storage, Bytes& entries, const mapi::PropertyBag& bag,
             const Overrides& overrides, bool skipData);

    NamedPropertyMap names_;
    std::vector<std::string> notes_;
    std::string within_; // "" at the top, else where the attached mail being written sits
};

void Writer::stream(GsfOutfile* parent, const std::string& name, const std::uint8_t* data,
                    std::size_t size) {
    GsfOutput* child = gsf_outfile_new_child(parent, name.c_str(), FALSE);
    if (child == nullptr) {
        throw MsgError("cannot create stream " + name);
    }
    // Large streams go straight to the file, so each one is written and closed before the next.
    bool ok = true;
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    for (std::size_t off = 0; ok && off < size; off += kChunk) {
        ok = gsf_output_write(child, std::min(kChunk, size - off), data + off) != FALSE;
    }
    ok = gsf_output_close(child) != FALSE && ok;
    g_object_unref(child);
    if (!ok) {
        throw MsgError("cannot write stream " + name);
    }
}

OutfilePtr Writer::storage(GsfOutfile* parent, const std::string& name) {
    GsfOutput* child = gsf_outfile_new_child(parent, name.c_str(), TRUE);
    if (child == nullptr) {
        throw MsgError("cannot create storage " + name);
    }
    return OutfilePtr(GSF_OUTFILE(child));
}

void Writer::close(GsfOutfile* s) {
    if (gsf_output_close(GSF_OUTPUT(s)) == FALSE) {
        throw MsgError("cannot close storage");
    }
}

void Writer::property(GsfOutfile* storage, Bytes& entries, mapi::PropTag tag,
                      const mapi::Value& v) {
    using mapi::PropType;
    PropType type = mapi::propType(tag);
    if (type == PropType::String8) {
        // One message must not mix 8-bit and Unicode strings; the model holds UTF-8 anyway.
        type = PropType::Unicode;
        tag = mapi::makeTag(mapi::propId(tag), type);
    }
    if (!mapi::valueMatchesType(type, v) || type == PropType::Object) {
        return;
    }
    Bytes value; // the 8 bytes after tag and flags
    switch (type) {
    case PropType::Int16:
        appendLe16(value, static_cast<std::uint16_t>(std::get<std::int16_t>(v)));
        break;
    case PropType::Int32:
    case PropType::Error:
        appendLe32(value, static_cast<std::uint32_t>(std::get<std::int32_t>(v)));
        break;
    case PropType::Boolean:
        appendLe16(value, std::get<bool>(v) ? 1 : 0);
        break;
    case PropType::Int64:
    case PropType::Currency:
        appendLe64(value, static_cast<std::uint64_t>(std::get<std::int64_t>(v)));
        break;
    case PropType::Double:
    case PropType::AppTime: {
        std::uint64_t bits = 0;
        const double d = std::get<double>(v);
        std::memcpy(&bits, &d, sizeof bits);
        appendLe64(value, bits);
        break;
    }
    case PropType::SysTime:
        appendLe64(value, std::get<mapi::FileTime>(v).ticks);
        break;
    case PropType::Unicode: {
        const Bytes text = mapi::utf16leBytes(std::get<std::string>(v));
        if (text.empty()) {
            return; // Outlook refuses zero-length strings
        }
        stream(storage, substgName(tag), text);
        appendLe32(value, static_cast<std::uint32_t>(text.size() + 2)); // counts the terminator
        break;
    }
    case PropType::Binary: {
        const Bytes& b = std::get<Bytes>(v);
        if (b.size() > 0x7FFFFFFFu) {
            throw MsgError("binary property too large for a .msg file");
        }
        stream(storage, substgName(tag), b);
        appendLe32(value, static_cast<std::uint32_t>(b.size()));
        break;
    }
    case PropType::Guid: {
        const auto& g = std::get<mapi::Guid>(v);
        stream(storage, substgName(tag), g.data(), g.size());
        appendLe32(value, 16);
        break;
    }
    case PropType::MvInt32: {
        Bytes data;
        for (const std::int32_t x : std::get<std::vector<std::int32_t>>(v)) {
            appendLe32(data, static_cast<std::uint32_t>(x));
        }
        stream(storage, substgName(tag), data);
        appendLe32(value, static_cast<std::uint32_t>(data.size()));
        break;
    }
    case PropType::MvUnicode: {
        // A length stream (4 bytes per value, terminator included) and one stream per value.
        Bytes lengths;
        const auto& items = std::get<std::vector<std::string>>(v);
        for (std::size_t i = 0; i < items.size(); ++i) {
            Bytes text = mapi::utf16leBytes(items[i]);
            text.push_back(0);
            text.push_back(0);
            appendLe32(lengths, static_cast<std::uint32_t>(text.size()));
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "-%08X", static_cast<unsigned>(i));
            stream(storage, substgName(tag) + suffix, text);
        }
        stream(storage, substgName(tag), lengths);
        appendLe32(value, static_cast<std::uint32_t>(lengths.size()));
        break;
    }
    case PropType::MvBinary: {
        Bytes lengths;
        const auto& items = std::get<std::vector<Bytes>>(v);
        for (std::size_t i = 0; i < items.size(); ++i) {
            appendLe32(lengths, static_cast<std::uint32_t>(items[i].size()));
            appendLe32(lengths, 0);
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "-%08X", static_cast<unsigned>(i));
            stream(storage, substgName(tag) + suffix, items[i]);
        }
        stream(storage, substgName(tag), lengths);
        appendLe32(value, static_cast<std::uint32_t>(lengths.size()));
        break;
    }
    case PropType::String8:
    case PropType::Object:
        return;
    }
    value.resize(8, 0);
    appendLe32(entries, tag);
    appendLe32(entries, kFlagsReadWrite);
    entries.insert(entries.end(), value.begin(), value.end());
}

void Writer::bag(GsfOutfile* storage, Bytes& entries, const mapi::PropertyBag& b,
                 const Overrides& overrides, bool skipData) {
    // Properties are written straight from the model (attachment data can be large); the few
    // values the writer must change are substituted on the way.
    const auto overridden = [&](mapi::PropTag tag) {
        return std::any_of(overrides.begin(), overrides.end(), [&](const auto& o) {
            return mapi::propId(o.first) == mapi::propId(tag);
        });
    };
    for (const auto& [tag, value] : b.properties()) {
        if ((skipData && mapi::propId(tag) == mapi::propId(tags::AttachDataBinary)) ||
            overridden(tag)) {
            continue;
        }
        property(storage, entries, tag, value);
    }
    for (const auto& [tag, value] : overrides) {
        property(storage, entries, tag, value);
    }
    for (const auto& [key, named] : b.named()) {
        property(storage, entries, mapi::makeTag(names_.idOf(key), named.type), named.value);
    }
}

void Writer::message(GsfOutfile* s, const mapi::Message& m, Level level) {
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
    Bytes entries;
    // Unicode strings are only valid when the store says so.
    bag(s, entries, m.props,
        {{tags::StoreSupportMask,
          m.props.int32(tags::StoreSupportMask).value_or(0) | tags::StoreUnicodeOk}},
        false);

    for (std::size_t i = 0; i < recipientRows; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "__recip_version1.0_#%08X", static_cast<unsigned>(i));
        OutfilePtr r = storage(s, name);
        Bytes rowEntries(8, 0);
        bag(r.get(), rowEntries, m.recipients[i].props, {}, false);
        stream(r.get(), "__properties_version1.0", rowEntries);
        close(r.get());
    }
    for (std::size_t i = 0; i < attachmentRows; ++i) {
        const auto& att = m.attachments[i];
        char name[40];
        std::snprintf(name, sizeof name, "__attach_version1.0_#%08X", static_cast<unsigned>(i));
        OutfilePtr a = storage(s, name);
        Bytes rowEntries(8, 0);
        Overrides method;
        if (att.embedded) {
            method.emplace_back(tags::AttachMethod, tags::AttachEmbeddedMessage);
        }
        bag(a.get(), rowEntries, att.props, method, att.embedded != nullptr);
        if (att.embedded) {
            // The attached mail is a storage of its own: size 0xFFFFFFFF, reserved 1.
            appendLe32(rowEntries, tags::AttachDataObject);
            appendLe32(rowEntries, kFlagsReadWrite);
            appendLe32(rowEntries, 0xFFFFFFFFu);
            appendLe32(rowEntries, 1);
            OutfilePtr inner = storage(a.get(), substgName(tags::AttachDataObject));
            const std::string outer = within_;
            within_ += "attached mail \"" + att.embedded->props.string(tags::Subject).value_or("") +
                       "\": ";
            message(inner.get(), *att.embedded, Level::Embedded);
            within_ = outer;
            close(inner.get());
        }
        stream(a.get(), "__properties_version1.0", rowEntries);
        close(a.get());
    }

    // Header: 8 reserved bytes, next recipient id, next attachment id, recipient count,
    // attachment count, and for the top level 8 more reserved bytes.
    Bytes header(8, 0);
    const auto recips = static_cast<std::uint32_t>(recipientRows);
    const auto atts = static_cast<std::uint32_t>(attachmentRows);
    appendLe32(header, recips);
    appendLe32(header, atts);
    appendLe32(header, recips);
    appendLe32(header, atts);
    if (level == Level::Top) {
        header.resize(32, 0);
    }
    header.insert(header.end(), entries.begin(), entries.end());
    stream(s, "__properties_version1.0", header);
}

void Writer::nameidStorage(GsfOutfile* root) {
    OutfilePtr n = storage(root, "__nameid_version1.0");
    for (const auto& st : names_.streams()) {
        stream(n.get(), st.name, st.data);
    }
    close(n.get());
}

// libgsf links the children of each storage as one chain through their right-sibling fields.
// That is a valid sorted tree, but its depth grows with the number of children, and readers
// that walk it recursively (olefile, for one) give up on a message with a thousand recipients.
// This pass relinks every storage's children in place as a balanced red-black tree, in the same
// order; nothing else in the file moves.
class DirectoryBalancer {
public:
    explicit DirectoryBalancer(const std::filesystem::path& path)
        : file_(path, std::ios::in | std::ios::out | std::ios::binary) {
        if (!file_) {
            throw MsgError("cannot reopen " + path.string());
        }
    }

    void run() {
        const Bytes header = read(0, 512);
        shift_ = le16(header, 0x1E);
        if (shift_ != 9 && shift_ != 12) {
            throw MsgError("unexpected compound-file sector size");
        }
        const std::uint32_t fatSectors = le32(header, 0x2C);
        std::vector<std::uint32_t> fatList;
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatSectors, 109); ++i) {
            fatList.push_back(le32(header, 0x4C + 4 * i));
        }
        const std::uint32_t perSector = sectorSize() / 4;
        for (std::uint32_t difat = le32(header, 0x44), n = 0;
             fatList.size() < fatSectors && difat < kMaxRegSect && n < fatSectors; ++n) {
            const Bytes d = readSector(difat);
            for (std::uint32_t i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i) {
                fatList.push_back(le32(d, 4 * i));
            }
            difat = le32(d, 4 * (perSector - 1));
        }
        for (const std::uint32_t sector : fatList) {
            const Bytes f = readSector(sector);
            for (std::uint32_t i = 0; i < perSector; ++i) {
                fat_.push_back(le32(f, 4 * i));
            }
        }
        // The directory: its sectors in chain order, entries of 128 bytes.
        std::vector<std::uint32_t> dirSectors;
        for (std::uint32_t s = le32(header, 0x30); s < kMaxRegSect; s = fat_.at(s)) {
            if (dirSectors.size() > fat_.size()) {
                throw MsgError("compound-file directory chain loops");
            }
            dirSectors.push_back(s);
        }
        Bytes dir;
        for (const std::uint32_t s : dirSectors) {
            const Bytes b = readSector(s);
            dir.insert(dir.end(), b.begin(), b.end());
        }
        const std::size_t count = dir.size() / 128;
        for (std::size_t e = 0; e < count; ++e) {
            const std::uint8_t type = dir[e * 128 + 0x42];
            const std::uint32_t child = le32(dir, e * 128 + 0x4C);
            if ((type == 1 || type == 5) && child != kNoStream) {
                put32at(dir, e * 128 + 0x4C, rebuild(dir, count, child));
            }
        }
        for (std::size_t i = 0; i < dirSectors.size(); ++i) {
            file_.seekp(static_cast<std::streamoff>((std::uint64_t{dirSectors[i]} + 1) << shift_));
            file_.write(reinterpret_cast<const char*>(dir.data() + i * sectorSize()), sectorSize());
        }
        file_.flush();
        if (!file_) {
            throw MsgError("cannot rewrite the compound-file directory");
        }
    }

private:
    static constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;
    static constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFAu;

    std::uint32_t sectorSize() const { return 1u << shift_; }
    // Offsets come from the directory being relinked: checked against the buffer (at() throws).
    static std::uint16_t le16(const Bytes& b, std::size_t off) {
        (void)b.at(off + 1);
        return readLe16(b.data() + off);
    }
    static std::uint32_t le32(const Bytes& b, std::size_t off) {
        (void)b.at(off + 3);
        return readLe32(b.data() + off);
    }
    static void put32at(Bytes& b, std::size_t off, std::uint32_t v) {
        (void)b.at(off + 3);
        writeLe32(b.data() + off, v);
    }
    Bytes read(std::uint64_t offset, std::size_t size) {
        Bytes b(size);
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(size));
        if (!file_) {
            throw MsgError("cannot read back the compound file");
        }
        return b;
    }
    Bytes readSector(std::uint32_t s) {
        return read((std::uint64_t{s} + 1) << shift_, sectorSize());
    }

    // Collects the siblings of one storage in order (in-order walk without recursion) and links
    // them as a balanced tree; returns the new root.
    std::uint32_t rebuild(Bytes& dir, std::size_t count, std::uint32_t root) {
        std::vector<std::uint32_t> sorted;
        std::vector<std::uint32_t> stack;
        for (std::uint32_t node = root; node != kNoStream || !stack.empty();) {
            while (node != kNoStream) {
                if (node >= count || stack.size() > count) {
                    throw MsgError("damaged compound-file directory");
                }
                stack.push_back(node);
                node = le32(dir, node * 128 + 0x44);
            }
            node = stack.back();
            stack.pop_back();
            sorted.push_back(node);
            node = le32(dir, node * 128 + 0x48);
        }
        int maxDepth = 0;
        for (std::size_t n = sorted.size(); n > 1; n /= 2) {
            ++maxDepth;
        }
        return link(dir, sorted, 0, static_cast<std::ptrdiff_t>(sorted.size()) - 1, 0, maxDepth);
    }

    // Midpoint tree: every leaf is at depth maxDepth or maxDepth - 1. Nodes on the deepest level
    // are red (unless it is the root), all others black, so every path holds the same number of
    // black nodes and no red node has a red child.
    std::uint32_t link(Bytes& dir, const std::vector<std::uint32_t>& sorted, std::ptrdiff_t lo,
                       std::ptrdiff_t hi, int depth, int maxDepth) {
        if (lo > hi) {
            return kNoStream;
        }
        const std::ptrdiff_t mid = lo + (hi - lo) / 2;
        const std::uint32_t node = sorted[static_cast<std::size_t>(mid)];
        put32at(dir, node * 128 + 0x44, link(dir, sorted, lo, mid - 1, depth + 1, maxDepth));
        put32at(dir, node * 128 + 0x48, link(dir, sorted, mid + 1, hi, depth + 1, maxDepth));
        dir.at(node * 128 + 0x43) = depth == maxDepth && depth > 0 ? 0 : 1;
        return node;
    }

    std::fstream file_;
    int shift_ = 9;
    std::vector<std::uint32_t> fat_;
};

} // namespace

MsgResult writeMsg(const mapi::Message& message, const std::filesystem::path& path) {
    ensureGsf();
    GError* err = nullptr;
    std::unique_ptr<GsfOutput, Unref> sink(gsf_output_stdio_new(path.c_str(), &err));
    if (!sink) {
        std::string why = err != nullptr ? err->message : "unknown error";
        if (err != nullptr) {
            g_error_free(err);
        }
        throw MsgError("cannot create " + path.string() + ": " + why);
    }
    OutfilePtr root(gsf_outfile_msole_new(sink.get()));
    if (!root) {
        throw MsgError("cannot start compound file " + path.string());
    }
    MsgResult result;
    try {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root.get()), kMsgClsid);
        Writer w(message);
        w.nameidStorage(root.get());
        w.message(root.get(), message, Level::Top);
        result.notes = w.takeNotes();
        if (gsf_output_close(GSF_OUTPUT(root.get())) == FALSE) {
            throw MsgError("cannot finish compound file");
        }
        root.reset();
        // Closing the compound file normally closes its sink as well.
        if (!gsf_output_is_closed(sink.get()) && gsf_output_close(sink.get()) == FALSE) {
            throw MsgError("cannot write " + path.string());
        }
    } catch (const std::exception& e) {
        // Mark the sink as failed so that it drops its temporary file instead of replacing the
        // target, then close whatever is still open.
        gsf_output_set_error(sink.get(), 0, "%s", e.what());
        if (root && !gsf_output_is_closed(GSF_OUTPUT(root.get()))) {
            gsf_output_close(GSF_OUTPUT(root.get()));
        }
        root.reset();
        if (!gsf_output_is_closed(sink.get())) {
            gsf_output_close(sink.get());
        }
        sink.reset();
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")");
    }
    try {
        DirectoryBalancer(path).run();
    } catch (const std::exception& e) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")");
    }
    return result;
}

} // namespace mbx::msg
