// The compound-file writer's one contact with the operating system.
#include "mailstore/cfb/output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

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

FileOutput::FileOutput(std::filesystem::path path, bool readBack) : path_(std::move(path)) {
    if (!file_.create(path_, readBack ? platform::File::Create::WriteThenRead
                                      : platform::File::Create::WriteOnly)) {
        fail("cannot create ", file_.error());
    }
}

FileOutput::~FileOutput() {
    if (file_.isOpen()) {
        file_.close();
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
}

void FileOutput::fail(const char* what, int error) const {
    throw std::system_error(error, std::generic_category(), what + platform::utf8FromPath(path_));
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
    if (size > 0 && !file_.write(data, size)) {
        fail("cannot write ", file_.error());
    }
}

void FileOutput::commit(platform::File* keep) {
    flush();
    if (keep != nullptr) {
        *keep = std::move(file_);
        return;
    }
    // Closing reports errors of writes the system deferred (on network file systems, say).
    if (!file_.close()) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        fail("cannot write ", file_.error());
    }
}

} // namespace mbx::cfb
