// MAPI property model shared by the PST writer, the MSG writer and the Internet-mail import.
// Nothing here knows about a file format: a message is a bag of typed properties plus recipient
// rows and attachments, each attachment a bag of its own (optionally holding an embedded message).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace mbx::mapi {

enum class PropType : std::uint16_t {
    Int16 = 0x0002,
    Int32 = 0x0003,
    Double = 0x0005,
    Currency = 0x0006,
    AppTime = 0x0007,
    Error = 0x000A,
    Boolean = 0x000B,
    Object = 0x000D,
    Int64 = 0x0014,
    String8 = 0x001E,
    Unicode = 0x001F,
    SysTime = 0x0040,
    Guid = 0x0048,
    Binary = 0x0102,
    MvInt32 = 0x1003,
    MvUnicode = 0x101F,
    MvBinary = 0x1102,
};

using PropTag = std::uint32_t; // property id in the high word, type in the low word

constexpr PropTag makeTag(std::uint16_t id, PropType type) {
    return (PropTag{id} << 16) | static_cast<std::uint16_t>(type);
}
constexpr std::uint16_t propId(PropTag tag) {
    return static_cast<std::uint16_t>(tag >> 16);
}
constexpr PropType propType(PropTag tag) {
    return static_cast<PropType>(tag & 0xFFFF);
}

// 100-nanosecond intervals since 1601-01-01 UTC, as FILETIME.
struct FileTime {
    std::uint64_t ticks = 0;
    static FileTime fromUnixSeconds(std::int64_t seconds);
    std::int64_t toUnixSeconds() const;
    auto operator<=>(const FileTime&) const = default;
};

using Guid = std::array<std::uint8_t, 16>; // in the little-endian byte order files store
using Bytes = std::vector<std::uint8_t>;

// Strings are held as UTF-8 and converted to UTF-16LE by the writers.
using Value = std::variant<std::int16_t,              // Int16
                           std::int32_t,              // Int32
                           std::int64_t,              // Int64, Currency
                           double,                    // Double, AppTime
                           bool,                      // Boolean
                           FileTime,                  // SysTime
                           std::string,               // Unicode, String8
                           Bytes,                     // Binary
                           Guid,                      // Guid
                           std::vector<std::int32_t>, // MvInt32
                           std::vector<std::string>,  // MvUnicode
                           std::vector<Bytes>>;       // MvBinary

// True when the value's alternative is the one the tag's type calls for.
bool valueMatchesType(PropType type, const Value& value);

// A named property: a property set GUID with either a numeric id (LID) or a string name.
struct NamedKey {
    Guid set{};
    std::variant<std::uint32_t, std::string> name;
    auto operator<=>(const NamedKey&) const = default;
};

namespace guids {
// PS_PUBLIC_STRINGS {00020329-0000-0000-C000-000000000046}
inline constexpr Guid PublicStrings{0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// PS_INTERNET_HEADERS {00020386-0000-0000-C000-000000000046}
inline constexpr Guid InternetHeaders{0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// PSETID_Common {00062008-0000-0000-C000-000000000046}
inline constexpr Guid Common{0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// PS_MAPI {00020328-0000-0000-C000-000000000046}
inline constexpr Guid Mapi{0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
} // namespace guids

// Ordered property bag. Ordinary properties are keyed by tag; named properties by their key and
// carry their own type. Setting a tag replaces any earlier value of the same property id.
class PropertyBag {
public:
    struct Named {
        PropType type;
        Value value;
    };

    void set(PropTag tag, Value value);
    void setNamed(const NamedKey& key, PropType type, Value value);
    void erase(PropTag tag);

    const Value* find(PropTag tag) const;
    bool has(PropTag tag) const { return find(tag) != nullptr; }
    std::optional<std::string> string(PropTag tag) const;
    std::optional<std::int32_t> int32(PropTag tag) const;

private:
    // Where a property's value is: its tag and its place among the values.
    struct Slot {
        PropTag tag;
        std::uint32_t value;
    };

public:
    // The ordinary properties ordered by tag, each as (tag, value).
    class Properties {
    public:
        class iterator {
        public:
            using value_type = std::pair<PropTag, const Value&>;
            using difference_type = std::ptrdiff_t;
            iterator(const Slot* slot, const Value* values) : slot_(slot), values_(values) {}
            value_type operator*() const { return {slot_->tag, values_[slot_->value]}; }
            iterator& operator++() {
                ++slot_;
                return *this;
            }
            bool operator==(const iterator& other) const { return slot_ == other.slot_; }

        private:
            const Slot* slot_;
            const Value* values_;
        };
        explicit Properties(const PropertyBag& bag) : bag_(bag) {}
        iterator begin() const { return {bag_.order_.data(), bag_.values_.data()}; }
        iterator end() const {
            return {bag_.order_.data() + bag_.order_.size(), bag_.values_.data()};
        }
        std::size_t size() const { return bag_.order_.size(); }

    private:
        const PropertyBag& bag_;
    };
    Properties properties() const { return Properties(*this); }
    const std::map<NamedKey, Named>& named() const { return named_; }
    bool empty() const { return order_.empty() && named_.empty(); }

private:
    // The values in the order they were first set, and beside them the tags in order, each with
    // the place of its value: a property set among the others moves eight bytes per property
    // after it, not a value, and a message has a few dozen (one allocation for all of them
    // costs far less than one per property, as a map would take).
    std::vector<Slot> order_;
    std::vector<Value> values_;
    std::map<NamedKey, Named> named_;
};

struct Message;

struct Recipient {
    PropertyBag props;
};

struct Attachment {
    PropertyBag props;
    // Set for attachments by embedded message (PR_ATTACH_METHOD 5); the data then lives here
    // rather than in PR_ATTACH_DATA_BIN.
    std::unique_ptr<Message> embedded;
};

struct Message {
    PropertyBag props;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
};

} // namespace mbx::mapi
