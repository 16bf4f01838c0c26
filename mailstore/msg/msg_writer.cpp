#include "mailstore/msg/msg_writer.h"

#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/msg/named_map.h"

#include <algorithm>
#include <cerrno>
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

// The system error a failure carries on, when it is one of ours.
std::error_code errorCodeOf(const std::exception& e) {
    const auto* error = dynamic_cast<const MsgError*>(&e);
    return error != nullptr ? error->code() : std::error_code();
}

// A stream or storage name, formatted on the stack: a message has dozens of them.
class Name {
public:
    Name(const char* prefix, std::uint32_t number) { append(prefix).hex(number); }
    Name& append(const char* text) {
        while (*text != '\0' && size_ + 1 < sizeof text_) {
            text_[size_++] = *text++;
        }
        text_[size_] = '\0';
        return *this;
    }
    // Eight upper-case hex digits, as the format spells property tags and row numbers.
    Name& hex(std::uint32_t v) {
        for (int shift = 28; shift >= 0 && size_ + 1 < sizeof text_; shift -= 4) {
            text_[size_++] = "0123456789ABCDEF"[(v >> shift) & 0xF];
        }
        text_[size_] = '\0';
        return *this;
    }
    const char* c_str() const { return text_; }

private:
    char text_[48] = {};
    std::size_t size_ = 0;
};

Name substgName(std::uint32_t tag) {
    return Name("__substg1.0_", tag);
}

// The value stream of item `index` of a multi-valued property.
Name substgName(std::uint32_t tag, std::uint32_t index) {
    Name name("__substg1.0_", tag);
    name.append("-").hex(index);
    return name;
}

// The 16-byte entry of one property in a __properties_version1.0 stream.
void appendEntry(Bytes& entries, std::uint32_t tag, const std::uint8_t (&value)[8]) {
    const std::size_t at = entries.size();
    entries.resize(at + 16);
    writeLe32(entries.data() + at, tag);
    writeLe32(entries.data() + at + 4, kFlagsReadWrite);
    std::memcpy(entries.data() + at + 8, value, 8);
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
    void stream(GsfOutfile* parent, const char* name, const std::uint8_t* data, std::size_t size);
    void stream(GsfOutfile* parent, const char* name, const Bytes& data) {
        stream(parent, name, data.data(), data.size());
    }
    OutfilePtr storage(GsfOutfile* parent, const char* name);
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

void Writer::stream(GsfOutfile* parent, const char* name, const std::uint8_t* data,
                    std::size_t size) {
    GsfOutput* child = gsf_outfile_new_child(parent, name, FALSE);
    if (child == nullptr) {
        throw MsgError(std::string("cannot create stream ") + name);
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
        throw MsgError(std::string("cannot write stream ") + name,
                       std::error_code(errno, std::generic_category()));
    }
}

OutfilePtr Writer::storage(GsfOutfile* parent, const char* name) {
    GsfOutput* child = gsf_outfile_new_child(parent, name, TRUE);
    if (child == nullptr) {
        throw MsgError(std::string("cannot create storage ") + name);
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
    std::uint8_t value[8] = {}; // the 8 bytes after tag and flags
    switch (type) {
    case PropType::Int16:
        writeLe16(value, static_cast<std::uint16_t>(std::get<std::int16_t>(v)));
        break;
    case PropType::Int32:
    case PropType::Error:
        writeLe32(value, static_cast<std::uint32_t>(std::get<std::int32_t>(v)));
        break;
    case PropType::Boolean:
        writeLe16(value, std::get<bool>(v) ? 1 : 0);
        break;
    case PropType::Int64:
    case PropType::Currency:
        writeLe64(value, static_cast<std::uint64_t>(std::get<std::int64_t>(v)));
        break;
    case PropType::Double:
    case PropType::AppTime: {
        std::uint64_t bits = 0;
        const double d = std::get<double>(v);
        std::memcpy(&bits, &d, sizeof bits);
        writeLe64(value, bits);
        break;
    }
    case PropType::SysTime:
        writeLe64(value, std::get<mapi::FileTime>(v).ticks);
        break;
    case PropType::Unicode: {
        const Bytes text = mapi::utf16leBytes(std::get<std::string>(v));
        if (text.empty()) {
            return; // Outlook refuses zero-length strings
        }
        stream(storage, substgName(tag).c_str(), text);
        writeLe32(value, static_cast<std::uint32_t>(text.size() + 2)); // counts the terminator
        break;
    }
    case PropType::Binary: {
        const Bytes& b = std::get<Bytes>(v);
        if (b.size() > 0x7FFFFFFFu) {
            throw MsgError("binary property too large for a .msg file");
        }
        stream(storage, substgName(tag).c_str(), b);
        writeLe32(value, static_cast<std::uint32_t>(b.size()));
        break;
    }
    case PropType::Guid: {
        const auto& g = std::get<mapi::Guid>(v);
        stream(storage, substgName(tag).c_str(), g.data(), g.size());
        writeLe32(value, 16);
        break;
    }
    case PropType::MvInt32: {
        Bytes data;
        for (const std::int32_t x : std::get<std::vector<std::int32_t>>(v)) {
            appendLe32(data, static_cast<std::uint32_t>(x));
        }
        stream(storage, substgName(tag).c_str(), data);
        writeLe32(value, static_cast<std::uint32_t>(data.size()));
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
            stream(storage, substgName(tag, static_cast<std::uint32_t>(i)).c_str(), text);
        }
        stream(storage, substgName(tag).c_str(), lengths);
        writeLe32(value, static_cast<std::uint32_t>(lengths.size()));
        break;
    }
    case PropType::MvBinary: {
        Bytes lengths;
        const auto& items = std::get<std::vector<Bytes>>(v);
        for (std::size_t i = 0; i < items.size(); ++i) {
            appendLe32(lengths, static_cast<std::uint32_t>(items[i].size()));
            appendLe32(lengths, 0);
            stream(storage, substgName(tag, static_cast<std::uint32_t>(i)).c_str(), items[i]);
        }
        stream(storage, substgName(tag).c_str(), lengths);
        writeLe32(value, static_cast<std::uint32_t>(lengths.size()));
        break;
    }
    case PropType::String8:
    case PropType::Object:
        return;
    }
    appendEntry(entries, tag, value);
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
    // The header (counts filled in below) followed by the 16-byte property entries.
    const std::size_t headerSize = level == Level::Top ? 32 : 24;
    Bytes entries(headerSize, 0);
    entries.reserve(headerSize + 16 * (m.props.properties().size() + m.props.named().size() + 1));
    // Unicode strings are only valid when the store says so.
    bag(s, entries, m.props,
        {{tags::StoreSupportMask,
          m.props.int32(tags::StoreSupportMask).value_or(0) | tags::StoreUnicodeOk}},
        false);

    for (std::size_t i = 0; i < recipientRows; ++i) {
        const auto& props = m.recipients[i].props;
        OutfilePtr r =
            storage(s, Name("__recip_version1.0_#", static_cast<std::uint32_t>(i)).c_str());
        Bytes rowEntries(8, 0);
        rowEntries.reserve(8 + 16 * (props.properties().size() + props.named().size()));
        bag(r.get(), rowEntries, props, {}, false);
        stream(r.get(), "__properties_version1.0", rowEntries);
        close(r.get());
    }
    for (std::size_t i = 0; i < attachmentRows; ++i) {
        const auto& att = m.attachments[i];
        OutfilePtr a =
            storage(s, Name("__attach_version1.0_#", static_cast<std::uint32_t>(i)).c_str());
        Bytes rowEntries(8, 0);
        rowEntries.reserve(8 + 16 * (att.props.properties().size() + att.props.named().size() + 2));
        Overrides method;
        if (att.embedded) {
            method.emplace_back(tags::AttachMethod, tags::AttachEmbeddedMessage);
        }
        bag(a.get(), rowEntries, att.props, method, att.embedded != nullptr);
        if (att.embedded) {
            // The attached mail is a storage of its own: size 0xFFFFFFFF, reserved 1.
            std::uint8_t value[8];
            writeLe32(value, 0xFFFFFFFFu);
            writeLe32(value + 4, 1);
            appendEntry(rowEntries, tags::AttachDataObject, value);
            OutfilePtr inner = storage(a.get(), substgName(tags::AttachDataObject).c_str());
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
    const auto recips = static_cast<std::uint32_t>(recipientRows);
    const auto atts = static_cast<std::uint32_t>(attachmentRows);
    writeLe32(entries.data() + 8, recips);
    writeLe32(entries.data() + 12, atts);
    writeLe32(entries.data() + 16, recips);
    writeLe32(entries.data() + 20, atts);
    stream(s, "__properties_version1.0", entries);
}

void Writer::nameidStorage(GsfOutfile* root) {
    OutfilePtr n = storage(root, "__nameid_version1.0");
    for (const auto& st : names_.streams()) {
        stream(n.get(), st.name.c_str(), st.data);
    }
    close(n.get());
}

// libgsf links the children of each storage as one chain through their right-sibling fields.
// That is a valid sorted tree, but its depth grows with the number of children, and readers
// that walk it recursively (olefile, for one) give up on a message with a thousand recipients.
// This pass relinks every storage's children in place as a balanced red-black tree, in the same
// order; nothing else in the file moves.
// The compound file is read and patched through read()/write(), either in memory or on disk.
class DirectoryBalancer {
public:
    virtual ~DirectoryBalancer() = default;

    void run() {
        Bytes header(512);
        read(0, header.data(), header.size());
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
        Bytes sector(sectorSize());
        for (std::uint32_t difat = le32(header, 0x44), n = 0;
             fatList.size() < fatSectors && difat < kMaxRegSect && n < fatSectors; ++n) {
            readSector(difat, sector);
            for (std::uint32_t i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i) {
                fatList.push_back(le32(sector, 4 * i));
            }
            difat = le32(sector, 4 * (perSector - 1));
        }
        fat_.reserve(fatList.size() * perSector);
        for (const std::uint32_t s : fatList) {
            readSector(s, sector);
            for (std::uint32_t i = 0; i < perSector; ++i) {
                fat_.push_back(le32(sector, 4 * i));
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
        Bytes dir(dirSectors.size() * sectorSize());
        for (std::size_t i = 0; i < dirSectors.size(); ++i) {
            read((std::uint64_t{dirSectors[i]} + 1) << shift_, dir.data() + i * sectorSize(),
                 sectorSize());
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
            write((std::uint64_t{dirSectors[i]} + 1) << shift_, dir.data() + i * sectorSize(),
                  sectorSize());
        }
        finish();
    }

protected:
    virtual void read(std::uint64_t offset, std::uint8_t* out, std::size_t size) = 0;
    virtual void write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
    virtual void finish() {}

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
    void readSector(std::uint32_t s, Bytes& out) {
        read((std::uint64_t{s} + 1) << shift_, out.data(), sectorSize());
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

    int shift_ = 9;
    std::vector<std::uint32_t> fat_;
};

class FileBalancer final : public DirectoryBalancer {
public:
    explicit FileBalancer(const std::filesystem::path& path)
        : file_(path, std::ios::in | std::ios::out | std::ios::binary) {
        if (!file_) {
            throw MsgError("cannot reopen " + path.string(),
                           std::error_code(errno, std::generic_category()));
        }
    }

private:
    void read(std::uint64_t offset, std::uint8_t* out, std::size_t size) override {
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
        if (!file_) {
            throw MsgError("cannot read back the compound file");
        }
    }
    void write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        file_.seekp(static_cast<std::streamoff>(offset));
        file_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    void finish() override {
        file_.flush();
        if (!file_) {
            throw MsgError("cannot rewrite the compound-file directory",
                           std::error_code(errno, std::generic_category()));
        }
    }

    std::fstream file_;
};

class MemoryBalancer final : public DirectoryBalancer {
public:
    explicit MemoryBalancer(Bytes& image) : image_(image) {}

private:
    void read(std::uint64_t offset, std::uint8_t* out, std::size_t size) override {
        if (offset > image_.size() || size > image_.size() - offset) {
            throw MsgError("cannot read back the compound file");
        }
        std::memcpy(out, image_.data() + offset, size);
    }
    void write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        if (offset > image_.size() || size > image_.size() - offset) {
            throw MsgError("cannot rewrite the compound-file directory");
        }
        std::memcpy(image_.data() + offset, data, size);
    }

    Bytes& image_;
};

// Bytes of property data in a message, recipients and attachments included: a lower bound of
// the file size, used to pick how the file is built.
std::uint64_t payloadSize(const mapi::Message& m) {
    const auto bagSize = [](const mapi::PropertyBag& bag) {
        std::uint64_t n = 0;
        const auto add = [&n](const mapi::Value& v) {
            if (const auto* s = std::get_if<std::string>(&v)) {
                n += s->size();
            } else if (const auto* b = std::get_if<Bytes>(&v)) {
                n += b->size();
            } else if (const auto* mb = std::get_if<std::vector<Bytes>>(&v)) {
                for (const auto& e : *mb) {
                    n += e.size();
                }
            } else if (const auto* ms = std::get_if<std::vector<std::string>>(&v)) {
                for (const auto& e : *ms) {
                    n += e.size();
                }
            }
        };
        for (const auto& [tag, v] : bag.properties()) {
            add(v);
        }
        for (const auto& [key, named] : bag.named()) {
            add(named.value);
        }
        return n;
    };
    std::uint64_t n = bagSize(m.props);
    for (const auto& r : m.recipients) {
        n += bagSize(r.props);
    }
    for (const auto& a : m.attachments) {
        n += bagSize(a.props);
        if (a.embedded) {
            n += payloadSize(*a.embedded);
        }
    }
    return n;
}

} // namespace

namespace {

// Writes the compound file of `message` into `sink` and closes it. On failure the sink is marked
// failed (a file sink then drops its temporary file instead of replacing the target) and closed.
MsgResult build(const mapi::Message& message, GsfOutput* sink) {
    OutfilePtr root(gsf_outfile_msole_new(sink));
    if (!root) {
        throw MsgError("cannot start compound file");
    }
    MsgResult result;
    try {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root.get()), kMsgClsid);
        Writer w(message);
        w.nameidStorage(root.get());
        w.message(root.get(), message, Level::Top);
        result.notes = w.takeNotes();
        if (gsf_output_close(GSF_OUTPUT(root.get())) == FALSE) {
            throw MsgError("cannot finish compound file",
                           std::error_code(errno, std::generic_category()));
        }
        root.reset();
        // Closing the compound file normally closes its sink as well.
        if (!gsf_output_is_closed(sink) && gsf_output_close(sink) == FALSE) {
            throw MsgError("cannot write", std::error_code(errno, std::generic_category()));
        }
    } catch (const std::exception& e) {
        gsf_output_set_error(sink, 0, "%s", e.what());
        if (root && !gsf_output_is_closed(GSF_OUTPUT(root.get()))) {
            gsf_output_close(GSF_OUTPUT(root.get()));
        }
        root.reset();
        if (!gsf_output_is_closed(sink)) {
            gsf_output_close(sink);
        }
        throw;
    }
    return result;
}

// Large messages are streamed to a temporary file and balanced there, so that memory stays
// bounded; the rest are built in memory and written with one call, which saves the temporary
// file, the rename and the second open of every small message.
constexpr std::uint64_t kInMemoryLimit = std::uint64_t{8} << 20;

MsgResult writeThroughFile(const mapi::Message& message, const std::filesystem::path& path) {
    GError* err = nullptr;
    std::unique_ptr<GsfOutput, Unref> sink(gsf_output_stdio_new(path.c_str(), &err));
    if (!sink) {
        std::string why = err != nullptr ? err->message : "unknown error";
        if (err != nullptr) {
            g_error_free(err);
        }
        throw MsgError("cannot create " + path.string() + ": " + why,
                       std::error_code(errno, std::generic_category()));
    }
    MsgResult result;
    try {
        result = build(message, sink.get());
    } catch (const std::exception& e) {
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")", errorCodeOf(e));
    }
    sink.reset();
    try {
        FileBalancer(path).run();
    } catch (const std::exception& e) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")", errorCodeOf(e));
    }
    return result;
}

// A GsfOutput that writes into a byte vector the caller owns: each worker thread builds every
// file in one buffer that keeps its capacity, and the finished file is balanced and written
// from there without a copy.
struct VectorSink {
    GsfOutput base;
    Bytes* bytes;
};
struct VectorSinkClass {
    GsfOutputClass base;
};

gboolean vectorSinkWrite(GsfOutput* output, size_t size, const guint8* data) {
    auto& bytes = *reinterpret_cast<VectorSink*>(output)->bytes;
    const auto at = static_cast<std::size_t>(output->cur_offset);
    try {
        if (at > bytes.size()) {
            bytes.resize(at); // a seek past the end leaves zeros
        }
        const std::size_t overwrite = std::min(size, bytes.size() - at);
        if (overwrite > 0) {
            std::memcpy(bytes.data() + at, data, overwrite);
        }
        bytes.insert(bytes.end(), data + overwrite, data + size);
    } catch (const std::bad_alloc&) {
        return gsf_output_set_error(output, 0, "out of memory");
    }
    return TRUE;
}

gboolean vectorSinkSeek(GsfOutput*, gsf_off_t, GSeekType) {
    return TRUE; // the position is the output's own; writes go wherever it points
}

gboolean vectorSinkClose(GsfOutput*) {
    return TRUE;
}

void vectorSinkClassInit(gpointer klass, gpointer) {
    auto* output = static_cast<GsfOutputClass*>(klass);
    output->Write = vectorSinkWrite;
    output->Seek = vectorSinkSeek;
    output->Close = vectorSinkClose;
}

GType vectorSinkType() {
    static const GType type = g_type_register_static_simple(
        GSF_OUTPUT_TYPE, "MbxMsgVectorSink", sizeof(VectorSinkClass), vectorSinkClassInit,
        sizeof(VectorSink), nullptr, GTypeFlags{});
    return type;
}

using SinkPtr = std::unique_ptr<GsfOutput, Unref>;

SinkPtr vectorSink(Bytes& bytes) {
    auto* sink = static_cast<VectorSink*>(g_object_new(vectorSinkType(), nullptr));
    sink->bytes = &bytes;
    return SinkPtr(&sink->base);
}

// Creates `path` and writes `image` with one unbuffered write; removes the file on failure.
void writeFile(const std::filesystem::path& path, const Bytes& image) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr) {
        throw MsgError("cannot create " + path.string() + ": " + std::strerror(errno),
                       std::error_code(errno, std::generic_category()));
    }
    int error = 0;
    // Unbuffered, so the image goes to the system in one call, without passing through stdio.
    if (std::setvbuf(file, nullptr, _IONBF, 0) != 0 ||
        std::fwrite(image.data(), 1, image.size(), file) != image.size()) {
        error = errno;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw MsgError("cannot write " + path.string() + ": " + std::strerror(error),
                       std::error_code(error, std::generic_category()));
    }
}

MsgResult writeThroughMemory(const mapi::Message& message, const std::filesystem::path& path) {
    // Kept per thread: most files fit the capacity left by the ones before.
    thread_local Bytes image;
    constexpr std::size_t kKeptCapacity = std::size_t{1} << 20;
    struct Release {
        ~Release() {
            image.clear();
            if (image.capacity() > kKeptCapacity) {
                Bytes().swap(image);
            }
        }
    } release;
    image.clear();
    MsgResult result;
    try {
        result = build(message, vectorSink(image).get());
        MemoryBalancer(image).run();
    } catch (const std::exception& e) {
        throw MsgError(std::string(e.what()) + " (" + path.string() + ")", errorCodeOf(e));
    }
    writeFile(path, image);
    return result;
}

} // namespace

MsgResult writeMsg(const mapi::Message& message, const std::filesystem::path& path) {
    ensureGsf();
    return payloadSize(message) <= kInMemoryLimit ? writeThroughMemory(message, path)
                                                  : writeThroughFile(message, path);
}

} // namespace mbx::msg
