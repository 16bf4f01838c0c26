// The POSIX side of platform/file.h.
#include "platform/file.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace mbx::platform {

std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string utf8FromPath(const std::filesystem::path& path) {
    return path.native();
}

File::~File() {
    close();
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), error_(other.error_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        error_ = other.error_;
    }
    return *this;
}

bool File::isOpen() const {
    return fd_ >= 0;
}

bool File::open(const std::filesystem::path& path, Access access) {
    close();
    error_ = 0;
    size_ = 0;
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        fail(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    if (access == Access::ReadSequential) {
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return true;
}

bool File::create(const std::filesystem::path& path, Create mode) {
    close();
    error_ = 0;
    size_ = 0;
    const int flags =
        (mode == Create::WriteOnly ? O_WRONLY : O_RDWR) | O_CREAT | O_TRUNC | O_CLOEXEC;
    const mode_t permissions = mode == Create::ReadWrite ? 0644 : 0666;
    do {
        fd_ = ::open(path.c_str(), flags, permissions);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        fail(errno);
        return false;
    }
    return true;
}

std::optional<std::uint64_t> File::currentSize() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t File::readAt(char* buffer, std::size_t count, std::uint64_t offset) {
    return readAt(buffer, count, offset, error_);
}

std::size_t File::readAt(char* buffer, std::size_t count, std::uint64_t offset, int& error) const {
    std::size_t done = 0;
    error = 0;
    while (done < count) {
        const auto got =
            ::pread(fd_, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = errno;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::optional<std::uint64_t> File::nextData(std::uint64_t offset) {
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO) {
            return std::nullopt;
        }
        return offset;
    }
    return std::max(offset, static_cast<std::uint64_t>(data));
}

bool File::write(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const auto put = ::write(fd_, bytes, count);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            fail(put < 0 ? errno : EIO);
            return false;
        }
        bytes += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::writeAt(const void* data, std::size_t count, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        const auto put =
            ::pwrite(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            fail(put < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool File::resize(std::uint64_t length) {
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

void File::startWriteBack(std::uint64_t offset, std::uint64_t length) {
#if defined(__linux__)
    // Failure only means the pages are written later, by the system or by sync().
    (void)::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                            SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

bool File::sync() {
    if (::fsync(fd_) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool File::close() {
    if (fd_ < 0) {
        return true;
    }
    const int fd = std::exchange(fd_, -1);
    // close() reports the errors of writes the system deferred (on network file systems, say);
    // EINTR leaves the descriptor closed on Linux.
    if (::close(fd) != 0 && errno != EINTR) {
        fail(errno);
        return false;
    }
    return true;
}

std::tm localTime(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    return local;
}

FileSystemFlush::FileSystemFlush(std::filesystem::path folder) : folder_(std::move(folder)) {
    // Opened now, so that flush() also hears of write failures from before it is called.
    fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

FileSystemFlush::~FileSystemFlush() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int FileSystemFlush::flush() {
    if (fd_ < 0) {
        // The folder did not exist yet.
        fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            return errno;
        }
    }
#if defined(__linux__)
    return ::syncfs(fd_) == 0 ? 0 : errno;
#else
    ::sync();
    return 0;
#endif
}

void releaseFreeMemory() {
    // The programs may run on jemalloc (linked for them, not for this library): its arenas are
    // purged; glibc's are trimmed.
    using Control = int (*)(const char*, void*, std::size_t*, void*, std::size_t);
    if (const auto control = reinterpret_cast<Control>(::dlsym(RTLD_DEFAULT, "mallctl"))) {
        control("arena.4096.purge", nullptr, nullptr, nullptr, 0); // 4096: every arena
        return;
    }
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace mbx::platform
