// The compound-file writer's one contact with the operating system.
#include "mailstore/cfb/output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace mbx::cfb {

namespace {
constexpr std::size_t kBufferLimit = std::size_t{1} << 20;
} // namespace

void MemoryOutput::begin(std::uint64_t size) {
    bytes_.reserve(bytes_.size() + static_cast<std::size_t>(size));
}

void MemoryOutput::write(const std::uint8_t* data, std::size_t size) {
    bytes_.insert(bytes_.end(), data, data + size);
}

FileOutput::FileOutput(std::filesystem::path path) : path_(std::move(path)) {
    do {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        fail("cannot create ", errno);
    }
}

FileOutput::~FileOutput() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

void FileOutput::fail(const char* what, int error) const {
    throw std::system_error(error, std::generic_category(), what + path_.string());
}

void FileOutput::begin(std::uint64_t size) {
    capacity_ = static_cast<std::size_t>(std::min<std::uint64_t>(size, kBufferLimit));
    buffer_.reserve(capacity_);
}

void FileOutput::write(const std::uint8_t* data, std::size_t size) {
    if (buffer_.size() + size <= capacity_) {
        buffer_.insert(buffer_.end(), data, data + size);
        return;
    }
    flush();
    if (size >= capacity_) {
        writeAll(data, size);
    } else {
        buffer_.insert(buffer_.end(), data, data + size);
    }
}

void FileOutput::flush() {
    writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void FileOutput::writeAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write ", errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void FileOutput::commit() {
    flush();
    const int fd = fd_;
    fd_ = -1;
    // close() reports errors of writes the system deferred (on network file systems, say).
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        ::unlink(path_.c_str());
        fail("cannot write ", error);
    }
}

} // namespace mbx::cfb
