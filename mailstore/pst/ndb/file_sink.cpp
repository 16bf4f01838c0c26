#include "mailstore/pst/ndb/file_sink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mbx::pst {
namespace {
constexpr std::size_t kBufferLimit = 4 << 20;
constexpr std::uint64_t kMaxGap = 64 << 10; // gaps this small are zero-filled in the buffer

[[noreturn]] void fail(const std::string& what) {
    throw PstError(what + ": " + std::strerror(errno));
}
} // namespace

FileSink::FileSink(const std::filesystem::path& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        fail("cannot create " + path.string());
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

void FileSink::write(std::uint64_t offset, ByteView data) {
    const std::uint64_t bufferEnd = bufferStart_ + buffer_.size();
    if (!buffer_.empty() && offset >= bufferEnd && offset - bufferEnd <= kMaxGap) {
        buffer_.resize(offset - bufferStart_, 0);
        buffer_.insert(buffer_.end(), data.begin(), data.end());
    } else {
        flush();
        bufferStart_ = offset;
        buffer_.assign(data.begin(), data.end());
    }
    if (buffer_.size() >= kBufferLimit)
        flush();
}

void FileSink::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::pwrite(fd_, buffer_.data() + done, buffer_.size() - done,
                                   static_cast<off_t>(bufferStart_ + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot write the data file");
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void FileSink::sync() {
    flush();
    if (::fsync(fd_) != 0)
        fail("cannot sync the data file");
}

} // namespace mbx::pst
