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
// A message carries about forty properties, a recipient or an attachment a dozen.
constexpr std::size_t kPropertiesUsually = 48;

template <typename Vector> auto lowerBound(Vector& v, PropTag tag) {
    return std::lower_bound(v.begin(), v.end(), tag,
                            [](const auto& entry, PropTag t) { return entry.first < t; });
}
} // namespace

void PropertyBag::set(PropTag tag, Value value) {
    // One value per property id: a Unicode subject replaces a String8 one and so on.
    auto first = lowerBound(props_, PropTag{propId(tag)} << 16);
    auto last = first;
    while (last != props_.end() && propId(last->first) == propId(tag))
        ++last;
    if (first == last) {
        if (props_.size() == props_.capacity() && props_.size() < kPropertiesUsually) {
            // Room for a whole message's properties at once, not a reallocation at each
            // doubling; the position is found again in the new storage.
            const auto at = first - props_.begin();
            props_.reserve(kPropertiesUsually);
            first = props_.begin() + at;
        }
        props_.emplace(first, tag, std::move(value));
        return;
    }
    first->first = tag;
    first->second = std::move(value);
    props_.erase(first + 1, last);
}

void PropertyBag::setNamed(const NamedKey& key, PropType type, Value value) {
    named_.insert_or_assign(key, Named{type, std::move(value)});
}

void PropertyBag::erase(PropTag tag) {
    auto it = lowerBound(props_, tag);
    if (it != props_.end() && it->first == tag)
        props_.erase(it);
}

const Value* PropertyBag::find(PropTag tag) const {
    auto it = lowerBound(props_, tag);
    return it != props_.end() && it->first == tag ? &it->second : nullptr;
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
