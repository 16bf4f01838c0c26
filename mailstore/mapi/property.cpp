#include "mailstore/mapi/property.h"

#include <algorithm>

namespace mbx::mapi {

namespace {
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL; // 1970-01-01 in FILETIME ticks
constexpr std::int64_t kTicksPerSecond = 10000000LL;
} // namespace

FileTime FileTime::fromUnixSeconds(std::int64_t seconds) {
    return FileTime{static_cast<std::uint64_t>(kUnixEpochTicks + seconds * kTicksPerSecond)};
}

std::int64_t FileTime::toUnixSeconds() const {
    return (static_cast<std::int64_t>(ticks) - kUnixEpochTicks) / kTicksPerSecond;
}

bool valueMatchesType(PropType type, const Value& value) {
    switch (type) {
    case PropType::Int16:
        return std::holds_alternative<std::int16_t>(value);
    case PropType::Int32:
    case PropType::Error:
        return std::holds_alternative<std::int32_t>(value);
    case PropType::Int64:
    case PropType::Currency:
        return std::holds_alternative<std::int64_t>(value);
    case PropType::Double:
    case PropType::AppTime:
        return std::holds_alternative<double>(value);
    case PropType::Boolean:
        return std::holds_alternative<bool>(value);
    case PropType::SysTime:
        return std::holds_alternative<FileTime>(value);
    case PropType::Unicode:
    case PropType::String8:
        return std::holds_alternative<std::string>(value);
    case PropType::Binary:
    case PropType::Object:
        return std::holds_alternative<Bytes>(value);
    case PropType::Guid:
        return std::holds_alternative<Guid>(value);
    case PropType::MvInt32:
        return std::holds_alternative<std::vector<std::int32_t>>(value);
    case PropType::MvUnicode:
        return std::holds_alternative<std::vector<std::string>>(value);
    case PropType::MvBinary:
        return std::holds_alternative<std::vector<Bytes>>(value);
    }
    return false;
}

namespace {
// Room for a recipient's or an attachment's dozen properties at once; a message's forty take
// two more steps.
constexpr std::size_t kPropertiesUsually = 16;

template <typename Slots> auto lowerBound(Slots& order, PropTag tag) {
    return std::lower_bound(order.begin(), order.end(), tag,
                            [](const auto& slot, PropTag t) { return slot.tag < t; });
}
} // namespace

void PropertyBag::set(PropTag tag, Value value) {
    // One value per property id: a Unicode subject replaces a String8 one and so on.
    auto first = lowerBound(order_, PropTag{propId(tag)} << 16);
    auto last = first;
    while (last != order_.end() && propId(last->tag) == propId(tag))
        ++last;
    if (first == last) {
        if (values_.empty()) {
            values_.reserve(kPropertiesUsually);
            order_.reserve(kPropertiesUsually); // (the bag is empty: `first` is its end)
            first = order_.end();
        }
        order_.insert(first, Slot{tag, static_cast<std::uint32_t>(values_.size())});
        values_.push_back(std::move(value));
        return;
    }
    first->tag = tag;
    values_[first->value] = std::move(value);
    for (auto other = first + 1; other != last; ++other)
        values_[other->value] = Value{}; // its place stays, empty
    order_.erase(first + 1, last);
}

void PropertyBag::setNamed(const NamedKey& key, PropType type, Value value) {
    named_.insert_or_assign(key, Named{type, std::move(value)});
}

void PropertyBag::erase(PropTag tag) {
    auto it = lowerBound(order_, tag);
    if (it != order_.end() && it->tag == tag) {
        values_[it->value] = Value{};
        order_.erase(it);
    }
}

const Value* PropertyBag::find(PropTag tag) const {
    auto it = lowerBound(order_, tag);
    return it != order_.end() && it->tag == tag ? &values_[it->value] : nullptr;
}

std::optional<std::string> PropertyBag::string(PropTag tag) const {
    if (const auto* v = find(tag); v && std::holds_alternative<std::string>(*v)) {
        return std::get<std::string>(*v);
    }
    return std::nullopt;
}

std::optional<std::int32_t> PropertyBag::int32(PropTag tag) const {
    if (const auto* v = find(tag); v && std::holds_alternative<std::int32_t>(*v)) {
        return std::get<std::int32_t>(*v);
    }
    return std::nullopt;
}

} // namespace mbx::mapi
