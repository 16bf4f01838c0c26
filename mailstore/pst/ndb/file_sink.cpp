#include "mailstore/pst/ndb/file_sink.h"

#include <cerrno>
#include <cstring>

namespace mbx::pst {
namespace {
constexpr std::size_t kBufferLimit = 4 << 20;
constexpr std::uint64_t kMaxGap = 64 << 10; // gaps this small are zero-filled in the buffer
constexpr std::size_t kBufferCapacity = kBufferLimit + kMaxGap + kMaxBlockSize;
// Written data is handed to the device in steps of this size as the file grows: the close's sync
// then waits for the last step, not for the whole file (2.4 GB took 4.3 s to sync at the end).
constexpr std::uint64_t kWriteBackStep = 32 << 20;

[[noreturn]] void fail(const std::string& what, int error) {
    throw PstError(what + ": " + std::strerror(error), {error, std::generic_category()});
}
} // namespace

FileSink::FileSink(const SinkTarget& target) {
    if (const auto* memory = std::get_if<std::vector<std::uint8_t>*>(&target)) {
        // In memory, blocks are placed straight into the image: no write-behind buffer.
        memory_ = *memory;
        memory_->clear();
    } else {
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferCapacity);
        const auto& path = std::get<std::filesystem::path>(target);
        if (!file_.create(path, platform::File::Create::ReadWrite))
            fail("cannot create " + platform::utf8FromPath(path), file_.error());
    }
    // Everything before the first AMap (header, reserved area) starts as zeros: a file cut short
    // at any point has no magic and no valid header CRC.
    addSection();
}

FileSink::~FileSink() = default;

void FileSink::addSection() {
    const std::uint64_t k = amaps_.size();
    amaps_.emplace_back();
    amaps_.back().fill(0);
    const std::uint64_t start = sectionOffset(k);
    const std::uint64_t mapBytes = sectionMapPages(k) * kPageSize;
    markUnits(start, mapBytes);
    cursor_ = start + mapBytes;
    if (memory_ != nullptr) {
        memory_->resize(static_cast<std::size_t>(sectionOffset(k + 1)));
        return;
    }
    if (!file_.resize(sectionOffset(k + 1)))
        fail("cannot extend the data file", file_.error());
}

void FileSink::markUnits(std::uint64_t offset, std::uint64_t size) {
    const std::uint64_t k = sectionOf(offset);
    auto& bits = amaps_[k];
    std::uint64_t first = (offset - sectionOffset(k)) / kUnitSize;
    const std::uint64_t count = size / kUnitSize;
    for (std::uint64_t u = first; u < first + count; ++u)
        bits[u / 8] |= static_cast<std::uint8_t>(0x80u >> (u % 8));
}

std::uint64_t FileSink::allocate(std::uint64_t size, std::uint64_t align) {
    if (size == 0 || size % kUnitSize != 0 || size > kMaxBlockSize)
        throw PstError("bad allocation size");
    std::uint64_t at = (cursor_ + align - 1) / align * align;
    const std::uint64_t sectionEnd = sectionOffset(amaps_.size());
    if (at + size > sectionEnd) {
        addSection();
        at = (cursor_ + align - 1) / align * align;
    }
    markUnits(at, size);
    cursor_ = at + size;
    return at;
}

std::uint8_t* FileSink::place(std::uint64_t offset, std::size_t size) {
    if (size > kMaxBlockSize)
        throw PstError("write too large for the buffer");
    if (memory_ != nullptr) {
        if (offset + size > memory_->size())
            memory_->resize(static_cast<std::size_t>(offset + size));
        return memory_->data() + offset;
    }
    if (used_ >= kBufferLimit)
        flush();
    const std::uint64_t bufferEnd = bufferStart_ + used_;
    if (used_ != 0 && offset >= bufferEnd && offset - bufferEnd <= kMaxGap) {
        const std::size_t at = static_cast<std::size_t>(offset - bufferStart_);
        std::memset(buffer_.get() + used_, 0, at - used_);
        used_ = at + size;
        return buffer_.get() + at;
    }
    flush();
    bufferStart_ = offset;
    used_ = size;
    return buffer_.get();
}

void FileSink::write(std::uint64_t offset, ByteView data) {
    if (data.size() <= kMaxBlockSize) {
        std::memcpy(place(offset, data.size()), data.data(), data.size());
        return;
    }
    flush();
    writeAt(offset, data);
}

void FileSink::writeAt(std::uint64_t offset, ByteView data) {
    if (memory_ != nullptr) {
        if (offset + data.size() > memory_->size())
            memory_->resize(static_cast<std::size_t>(offset + data.size()));
        std::memcpy(memory_->data() + offset, data.data(), data.size());
        return;
    }
    if (!file_.writeAt(data.data(), data.size(), offset))
        fail("cannot write the data file", file_.error());
}

void FileSink::flush() {
    if (used_ == 0)
        return;
    writeAt(bufferStart_, ByteView(buffer_.get(), used_));
    const std::uint64_t end = bufferStart_ + used_;
    used_ = 0;
    if (end >= writtenBack_ + kWriteBackStep) {
        file_.startWriteBack(writtenBack_, end - writtenBack_);
        writtenBack_ = end;
    }
}

void FileSink::sync() {
    flush();
    syncFlushed();
}

void FileSink::syncFlushed() {
    if (memory_ == nullptr && !file_.sync())
        fail("cannot sync the data file", file_.error());
}

} // namespace mbx::pst
