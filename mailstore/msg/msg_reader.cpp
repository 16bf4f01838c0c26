#include "mailstore/msg/msg_reader.h"

#include "mailstore/cfb/reader.h"
#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/digest.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/msg/msg_writer.h"
#include "platform/file.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mbx::msg {

namespace {

using Bytes = std::vector<std::uint8_t>;
// What a storage holds of the properties a print takes: the digest of each value (a value is not
// kept: an attachment can be hundreds of megabytes).
class Props {
public:
    static constexpr std::size_t kMaxTags = 8;
    Props() = default;
    explicit Props(std::span<const mapi::PropTag> tags) : tags_(tags) {}
    // A tag listed twice in a property stream: the last entry holds.
    void set(std::size_t i, const mapi::ValueDigest& value) {
        values_[i] = value;
        present_ |= 1u << i;
    }
    const mapi::ValueDigest* find(mapi::PropTag tag) const {
        for (std::size_t i = 0; i < tags_.size(); ++i) {
            if (tags_[i] == tag && (present_ & (1u << i)) != 0) {
                return &values_[i];
            }
        }
        return nullptr;
    }

private:
    std::span<const mapi::PropTag> tags_;
    std::array<mapi::ValueDigest, kMaxTags> values_{};
    std::uint32_t present_ = 0;
};
static_assert(std::size(mapi::kMessagePrintTags) <= Props::kMaxTags &&
              std::size(mapi::kRecipientPrintTags) <= Props::kMaxTags &&
              std::size(mapi::kAttachmentPrintTags) <= Props::kMaxTags);
using cfb::CompoundFileReader;
namespace tags = mapi::tags;

std::string hex8(std::uint32_t v) {
    std::string out;
    for (int shift = 28; shift >= 0; shift -= 4) {
        out.push_back("0123456789ABCDEF"[(v >> shift) & 0xF]);
    }
    return out;
}

// A prefix and a number in 8 hex digits, as the names of recipient and attachment storages are
// made, without an allocation.
class HexName {
public:
    HexName(std::string_view prefix, std::uint32_t v) : size_(prefix.size() + 8) {
        std::copy(prefix.begin(), prefix.end(), text_.begin());
        for (std::size_t i = 0; i < 8; ++i) {
            text_[prefix.size() + i] = "0123456789ABCDEF"[(v >> (28 - 4 * i)) & 0xF];
        }
    }
    std::string_view view() const { return {text_.data(), size_}; }

private:
    std::array<char, 32> text_{};
    std::size_t size_;
};

constexpr std::string_view kValuePrefix = "__substg1.0_";
// The prefix as a directory holds names (UTF-16LE), and the size of a whole value stream name.
constexpr auto kPrefixBytes = [] {
    std::array<std::uint8_t, 2 * kValuePrefix.size()> out{};
    for (std::size_t i = 0; i < kValuePrefix.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(kValuePrefix[i]);
    }
    return out;
}();
constexpr std::size_t kNameBytes = 2 * (kValuePrefix.size() + 8);

// The value streams of a storage by the tag their names carry ("__substg1.0_" and the tag in 8
// hex digits), sorted by tag; of two with one tag, the first reached comes first.
class ValueStreams {
public:
    ValueStreams(const CompoundFileReader& file, CompoundFileReader::Id storage) {
        const auto children = file.children(storage);
        streams_.reserve(children.size());
        for (const auto id : children) {
            const auto name = file.nameBytes(id);
            bool ours = name.size() == kNameBytes &&
                        std::equal(kPrefixBytes.begin(), kPrefixBytes.end(), name.begin());
            mapi::PropTag tag = 0;
            for (std::size_t i = kValuePrefix.size(); i < kValuePrefix.size() + 8 && ours; ++i) {
                const int c = name[2 * i + 1] == 0 ? name[2 * i] : -1;
                const int digit = c >= '0' && c <= '9'   ? c - '0'
                                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                         : -1;
                ours = digit >= 0;
                tag = (tag << 4) | static_cast<mapi::PropTag>(digit & 0xF);
            }
            if (ours) {
                streams_.push_back({tag, static_cast<std::uint32_t>(streams_.size()), id});
            }
        }
        std::sort(streams_.begin(), streams_.end());
    }

    std::optional<CompoundFileReader::Id> find(mapi::PropTag tag) const {
        const auto it = std::lower_bound(streams_.begin(), streams_.end(), Stream{tag, 0, 0});
        return it != streams_.end() && it->tag == tag ? std::optional(it->id) : std::nullopt;
    }

private:
    struct Stream {
        mapi::PropTag tag;
        std::uint32_t reached; // the order the walk reached it
        CompoundFileReader::Id id;
        auto operator<=>(const Stream&) const = default;
    };
    std::vector<Stream> streams_;
};

bool inStream(mapi::PropType type) {
    using mapi::PropType;
    return type == PropType::Unicode || type == PropType::String8 || type == PropType::Binary ||
           type == PropType::Guid;
}

// The properties of one storage: fixed-size values from the property stream, strings and binary
// values from their own streams. `headerSize`: 32, 24 or 8 (see msg::PropertyStream). Only the
// values of the tags in `only` are read; the value streams of the others must still be there.
Props readProps(const CompoundFileReader& file, CompoundFileReader::Id storage,
                std::size_t headerSize, std::span<const mapi::PropTag> only,
                std::uint32_t* counts = nullptr) {
    const auto id = file.find(storage, "__properties_version1.0");
    if (!id) {
        throw MsgError("a property stream is missing");
    }
    Bytes scratch;
    const auto entries = file.view(*id, scratch);
    if (entries.size() < headerSize) {
        throw MsgError("a property stream is too short");
    }
    if (counts != nullptr && headerSize >= 24) {
        counts[0] = readLe32(entries.data() + 16);
        counts[1] = readLe32(entries.data() + 20);
    }
    const ValueStreams streams(file, storage);
    Props props(only);
    for (std::size_t at = headerSize; at + 16 <= entries.size(); at += 16) {
        const mapi::PropTag tag = readLe32(entries.data() + at);
        const auto type = mapi::propType(tag);
        const auto value = inStream(type) ? streams.find(tag) : std::nullopt;
        if (inStream(type) && !value) {
            throw MsgError("the value stream of property " + hex8(tag) + " is missing");
        }
        const auto wanted = std::find(only.begin(), only.end(), tag);
        if (wanted == only.end()) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(wanted - only.begin());
        if (value) {
            mapi::Digest digest;
            file.visitStream(*value,
                             [&digest](std::span<const std::uint8_t> piece) { digest.add(piece); });
            const std::uint64_t size = file.streamSize(*value);
            props.set(slot,
                      size > 0 ? mapi::ValueDigest{size, digest.value()} : mapi::ValueDigest{});
        } else if (type == mapi::PropType::Object ||
                   (static_cast<std::uint16_t>(type) & 0x1000) == 0) {
            props.set(slot, mapi::digestOf(type, entries.data() + at + 8, 8));
        }
    }
    return props;
}

mapi::ValueDigest valueIn(const Props& props, mapi::PropTag tag) {
    const auto* value = props.find(tag);
    return value != nullptr ? *value : mapi::ValueDigest{};
}

class StoredMessage : public mapi::MessageView {
public:
    StoredMessage(std::shared_ptr<const CompoundFileReader> file, CompoundFileReader::Id storage,
                  std::size_t headerSize)
        : file_(std::move(file)) {
        std::uint32_t counts[2] = {0, 0};
        props_ = readProps(*file_, storage, headerSize, mapi::kMessagePrintTags, counts);
        for (std::uint32_t i = 0; i < counts[0]; ++i) {
            const auto row = file_->find(storage, HexName("__recip_version1.0_#", i).view());
            if (!row) {
                throw MsgError("recipient row " + std::to_string(i) + " is missing");
            }
            recipients_.push_back(readProps(*file_, *row, 8, mapi::kRecipientPrintTags));
        }
        for (std::uint32_t i = 0; i < counts[1]; ++i) {
            const auto row = file_->find(storage, HexName("__attach_version1.0_#", i).view());
            if (!row) {
                throw MsgError("attachment " + std::to_string(i) + " is missing");
            }
            attachments_.push_back({readProps(*file_, *row, 8, mapi::kAttachmentPrintTags), *row});
        }
    }

    mapi::ValueDigest value(mapi::PropTag tag) const override { return valueIn(props_, tag); }
    std::size_t recipientCount() const override { return recipients_.size(); }
    mapi::ValueDigest recipientValue(std::size_t row, mapi::PropTag tag) const override {
        return valueIn(recipients_[row], tag);
    }
    std::size_t attachmentCount() const override { return attachments_.size(); }
    mapi::ValueDigest attachmentValue(std::size_t index, mapi::PropTag tag) const override {
        return valueIn(attachments_[index].props, tag);
    }
    std::unique_ptr<mapi::MessageView> embedded(std::size_t index) const override {
        const auto& a = attachments_[index];
        if (a.props.find(tags::AttachDataObject) == nullptr) {
            return nullptr;
        }
        const auto inner =
            file_->find(a.storage, HexName(kValuePrefix, tags::AttachDataObject).view());
        if (!inner || !file_->isStorage(*inner)) {
            throw MsgError("an attached message is missing");
        }
        return std::make_unique<StoredMessage>(file_, *inner, 24);
    }

private:
    struct Attachment {
        Props props;
        CompoundFileReader::Id storage;
    };
    std::shared_ptr<const CompoundFileReader> file_;
    Props props_;
    std::vector<Props> recipients_;
    std::vector<Attachment> attachments_;
};

// The message in the compound file `read` gives.
template <typename Read> std::unique_ptr<mapi::MessageView> readWith(Read read) {
    try {
        auto file = std::make_shared<const CompoundFileReader>(read());
        return std::make_unique<StoredMessage>(file, CompoundFileReader::kRoot, 32);
    } catch (const cfb::CfbError& e) {
        throw MsgError(e.what());
    }
}

} // namespace

std::unique_ptr<mapi::MessageView> readMsg(const std::filesystem::path& path) {
    return readWith([&] { return CompoundFileReader::open(path); });
}

std::unique_ptr<mapi::MessageView> readMsg(const platform::File& file,
                                           const std::filesystem::path& path) {
    return readWith([&] { return CompoundFileReader::read(file, path); });
}

} // namespace mbx::msg
