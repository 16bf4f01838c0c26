#include "mailstore/msg/properties.h"

#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/mapi/text.h"
#include "mailstore/msg/msg_writer.h"

#include <algorithm>
#include <cstring>

namespace mbx::msg {

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace tags = mapi::tags;

constexpr std::uint32_t kFlagsReadWrite = tags::PropAttrReadable | tags::PropAttrWritable;

// A stream name, formatted on the stack: a message has dozens of them.
class Name {
public:
    explicit Name(std::uint32_t tag) { append("__substg1.0_").hex(tag); }
    // The value stream of item `index` of a multi-valued property.
    Name(std::uint32_t tag, std::uint32_t index) {
        append("__substg1.0_").hex(tag).append("-").hex(index);
    }
    Name& append(const char* text) {
        while (*text != '\0' && size_ < sizeof text_) {
            text_[size_++] = *text++;
        }
        return *this;
    }
    // Eight upper-case hex digits, as the format spells property tags and row numbers.
    Name& hex(std::uint32_t v) {
        for (int shift = 28; shift >= 0 && size_ < sizeof text_; shift -= 4) {
            text_[size_++] = "0123456789ABCDEF"[(v >> shift) & 0xF];
        }
        return *this;
    }
    operator std::string_view() const { return {text_, size_}; }

private:
    char text_[48] = {};
    std::size_t size_ = 0;
};

} // namespace

PropertyStream::PropertyStream(cfb::CompoundFile& file, cfb::CompoundFile::Id storage,
                               std::size_t headerSize, std::size_t expectedEntries)
    : file_(file), storage_(storage), entries_(headerSize, 0) {
    entries_.reserve(headerSize + 16 * expectedEntries);
}

void PropertyStream::addEntry(mapi::PropTag tag, const std::uint8_t (&value)[8]) {
    const std::size_t at = entries_.size();
    entries_.resize(at + 16);
    writeLe32(entries_.data() + at, tag);
    writeLe32(entries_.data() + at + 4, kFlagsReadWrite);
    std::memcpy(entries_.data() + at + 8, value, 8);
}

void PropertyStream::add(mapi::PropTag tag, const mapi::Value& v) {
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
    // A tag met twice (an 8-bit and a Unicode string of one id) keeps its first value: one
    // storage cannot hold two streams of the same name.
    if (std::find(written_.begin(), written_.end(), tag) != written_.end()) {
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
        Bytes text = mapi::utf16leBytes(std::get<std::string>(v));
        if (text.empty()) {
            return; // Outlook refuses zero-length strings
        }
        writeLe32(value, static_cast<std::uint32_t>(text.size() + 2)); // counts the terminator
        file_.addStream(storage_, Name(tag), std::move(text));
        break;
    }
    case PropType::Binary: {
        const Bytes& b = std::get<Bytes>(v);
        if (b.size() > 0x7FFFFFFFu) {
            throw MsgError("binary property too large for a .msg file");
        }
        file_.addStreamView(storage_, Name(tag), b);
        writeLe32(value, static_cast<std::uint32_t>(b.size()));
        break;
    }
    case PropType::Guid: {
        const auto& g = std::get<mapi::Guid>(v);
        file_.addStreamView(storage_, Name(tag), std::span(g.data(), g.size()));
        writeLe32(value, 16);
        break;
    }
    case PropType::MvInt32: {
        Bytes data;
        for (const std::int32_t x : std::get<std::vector<std::int32_t>>(v)) {
            appendLe32(data, static_cast<std::uint32_t>(x));
        }
        writeLe32(value, static_cast<std::uint32_t>(data.size()));
        file_.addStream(storage_, Name(tag), std::move(data));
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
            file_.addStream(storage_, Name(tag, static_cast<std::uint32_t>(i)), std::move(text));
        }
        writeLe32(value, static_cast<std::uint32_t>(lengths.size()));
        file_.addStream(storage_, Name(tag), std::move(lengths));
        break;
    }
    case PropType::MvBinary: {
        Bytes lengths;
        const auto& items = std::get<std::vector<Bytes>>(v);
        for (std::size_t i = 0; i < items.size(); ++i) {
            appendLe32(lengths, static_cast<std::uint32_t>(items[i].size()));
            appendLe32(lengths, 0);
            file_.addStreamView(storage_, Name(tag, static_cast<std::uint32_t>(i)), items[i]);
        }
        writeLe32(value, static_cast<std::uint32_t>(lengths.size()));
        file_.addStream(storage_, Name(tag), std::move(lengths));
        break;
    }
    case PropType::String8:
    case PropType::Object:
        return;
    }
    written_.push_back(tag);
    addEntry(tag, value);
}

void PropertyStream::addBag(const mapi::PropertyBag& b, const NamedPropertyMap& names,
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
        add(tag, value);
    }
    for (const auto& [tag, value] : overrides) {
        add(tag, value);
    }
    for (const auto& [key, named] : b.named()) {
        add(mapi::makeTag(names.idOf(key), named.type), named.value);
    }
}

void PropertyStream::finish() {
    file_.addStream(storage_, "__properties_version1.0", std::move(entries_));
}

} // namespace mbx::msg
