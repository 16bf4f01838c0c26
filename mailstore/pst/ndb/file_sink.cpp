#include "mailstore/pst/ndb/file_sink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mbx::pst {
namespace {
constexpr std::size_t kBufferLimit = 4 << 20;
constexpr std::uint64_t kMaxGap = 64 << 10; // gaps this small are zero-filled in the buffer
constexpr std::size_t kBufferCapacity = kBufferLimit + kMaxGap + kMaxBlockSize;

[[noreturn]] void fail(const std::string& what) {
    const int error = errno;
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
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            fail("cannot create " + path.string());
    }
    // Everything before the first AMap (header, reserved area) starts as zeros: a file cut short
    // at any point has no magic and no valid header CRC.
    addSection();
}

FileSink::~FileSink() {
    if (fd_ >= 0)
        ::close(fd_);
}

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
    if (::ftruncate(fd_, static_cast<off_t>(sectionOffset(k + 1))) != 0)
        fail("cannot extend the data file");
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
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot write the data file");
        }
        done += static_cast<std::size_t>(n);
    }
}

void FileSink::flush() {
    if (used_ == 0)
        return;
    writeAt(bufferStart_, ByteView(buffer_.get(), used_));
    used_ = 0;
}

void FileSink::sync() {
    flush();
    if (memory_ == nullptr && ::fsync(fd_) != 0)
        fail("cannot sync the data file");
}

} // namespace mbx::pst
