#include "mailstore/msg/msg_reader.h"

#include "mailstore/cfb/reader.h"
#include "mailstore/mapi/byte_order.h"
#include "mailstore/mapi/digest.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/msg/msg_writer.h"

#include <algorithm>
#include <array>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace mbx::msg {

namespace {

using Bytes = std::vector<std::uint8_t>;
// What a storage holds of each property: the digest of its value (a value is not kept: an
// attachment can be hundreds of megabytes).
using Props = std::map<mapi::PropTag, mapi::ValueDigest>;
using cfb::CompoundFileReader;
namespace tags = mapi::tags;

std::string hex8(std::uint32_t v) {
    std::string out;
    for (int shift = 28; shift >= 0; shift -= 4) {
        out.push_back("0123456789ABCDEF"[(v >> shift) & 0xF]);
    }
    return out;
}

// A prefix and a number in 8 hex digits, as the names of value streams and of recipient and
// attachment storages are made, without an allocation.
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

HexName valueStream(mapi::PropTag tag) {
    return HexName("__substg1.0_", tag);
}

bool inStream(mapi::PropType type) {
    using mapi::PropType;
    return type == PropType::Unicode || type == PropType::String8 || type == PropType::Binary ||
           type == PropType::Guid;
}

// The properties of one storage: fixed-size values from the property stream, strings and binary
// values from their own streams. `headerSize`: 32, 24 or 8 (see msg::PropertyStream). With
// `only` not empty, the values of other tags are not read (their streams are still looked up).
Props readProps(const CompoundFileReader& file, CompoundFileReader::Id storage,
                std::size_t headerSize, std::uint32_t* counts = nullptr,
                std::span<const mapi::PropTag> only = {}) {
    const auto id = file.find(storage, "__properties_version1.0");
    if (!id) {
        throw MsgError("a property stream is missing");
    }
    const Bytes entries = file.stream(*id);
    if (entries.size() < headerSize) {
        throw MsgError("a property stream is too short");
    }
    if (counts != nullptr && headerSize >= 24) {
        counts[0] = readLe32(entries.data() + 16);
        counts[1] = readLe32(entries.data() + 20);
    }
    Props props;
    for (std::size_t at = headerSize; at + 16 <= entries.size(); at += 16) {
        const mapi::PropTag tag = readLe32(entries.data() + at);
        const auto type = mapi::propType(tag);
        if (!only.empty() && std::find(only.begin(), only.end(), tag) == only.end()) {
            if (inStream(type) && !file.find(storage, valueStream(tag).view())) {
                throw MsgError("the value stream of property " + hex8(tag) + " is missing");
            }
            continue;
        }
        if (inStream(type)) {
            const auto value = file.find(storage, valueStream(tag).view());
            if (!value) {
                throw MsgError("the value stream of property " + hex8(tag) + " is missing");
            }
            mapi::Digest digest;
            file.visitStream(*value,
                             [&digest](std::span<const std::uint8_t> piece) { digest.add(piece); });
            const std::uint64_t size = file.streamSize(*value);
            props[tag] = size > 0 ? mapi::ValueDigest{size, digest.value()} : mapi::ValueDigest{};
        } else if (type == mapi::PropType::Object ||
                   (static_cast<std::uint16_t>(type) & 0x1000) == 0) {
            props[tag] = mapi::digestOf(type, entries.data() + at + 8, 8);
        }
    }
    return props;
}

mapi::ValueDigest valueIn(const Props& props, mapi::PropTag tag) {
    const auto it = props.find(tag);
    return it != props.end() ? it->second : mapi::ValueDigest{};
}

class StoredMessage : public mapi::MessageView {
public:
    StoredMessage(std::shared_ptr<const CompoundFileReader> file, CompoundFileReader::Id storage,
                  std::size_t headerSize)
        : file_(std::move(file)) {
        std::uint32_t counts[2] = {0, 0};
        props_ = readProps(*file_, storage, headerSize, counts, mapi::kMessagePrintTags);
        for (std::uint32_t i = 0; i < counts[0]; ++i) {
            const auto row = file_->find(storage, HexName("__recip_version1.0_#", i).view());
            if (!row) {
                throw MsgError("recipient row " + std::to_string(i) + " is missing");
            }
            recipients_.push_back(readProps(*file_, *row, 8));
        }
        for (std::uint32_t i = 0; i < counts[1]; ++i) {
            const auto row = file_->find(storage, HexName("__attach_version1.0_#", i).view());
            if (!row) {
                throw MsgError("attachment " + std::to_string(i) + " is missing");
            }
            attachments_.push_back(
                {readProps(*file_, *row, 8, nullptr, mapi::kAttachmentPrintTags), *row});
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
        if (a.props.count(tags::AttachDataObject) == 0) {
            return nullptr;
        }
        const auto inner = file_->find(a.storage, valueStream(tags::AttachDataObject).view());
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

} // namespace

std::unique_ptr<mapi::MessageView> readMsg(const std::filesystem::path& path) {
    try {
        auto file = std::make_shared<const CompoundFileReader>(CompoundFileReader::open(path));
        return std::make_unique<StoredMessage>(file, CompoundFileReader::kRoot, 32);
    } catch (const cfb::CfbError& e) {
        throw MsgError(e.what());
    }
}

} // namespace mbx::msg
