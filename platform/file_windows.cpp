// The Windows side of platform/file.h: wide-character names, handles opened for binary access,
// positional reads and writes through OVERLAPPED offsets, allocated-range queries for sparse files.
#include "platform/file.h"

#include <algorithm>
#include <cerrno>
#include <io.h>
#include <malloc.h>
#include <utility>
// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>
// clang-format on

namespace mbx::platform {
namespace {

// The errno value closest to a Windows error, so that messages read as they do on POSIX.
int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return EISDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_INVALID_NAME:
        return EINVAL;
    default:
        return EIO;
    }
}

HANDLE handleOf(void* h) {
    return static_cast<HANDLE>(h);
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// One call moves at most this much (the count is a DWORD).
constexpr std::size_t kChunk = 1u << 30;

} // namespace

std::filesystem::path pathFromUtf8(std::string_view utf8) {
    const std::u8string text(utf8.begin(), utf8.end());
    return std::filesystem::path(text);
}

std::string utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

File::~File() {
    close();
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), size_(other.size_), error_(other.error_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        size_ = other.size_;
        error_ = other.error_;
    }
    return *this;
}

bool File::isOpen() const {
    return handle_ != nullptr;
}

bool File::open(const std::filesystem::path& path, Access access) {
    close();
    error_ = 0;
    size_ = 0;
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (access == Access::ReadSequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
    // Others may go on reading, writing or renaming the mailbox, as on POSIX.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        // A folder cannot be opened as a file.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        fail(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                 ? EISDIR
                 : errnoOf(e));
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
        fail(EINVAL);
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool File::create(const std::filesystem::path& path, Create mode) {
    close();
    error_ = 0;
    size_ = 0;
    const DWORD access = mode == Create::WriteOnly ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    // A file kept open to be read back may be opened by others meanwhile, as a closed one may.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE |
                        (mode == Create::WriteThenRead ? FILE_SHARE_WRITE : 0);
    HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail(errnoOf(GetLastError()));
        return false;
    }
    handle_ = h;
    return true;
}

std::optional<std::uint64_t> File::currentSize() const {
    LARGE_INTEGER size{};
    if (handle_ == nullptr || !GetFileSizeEx(handleOf(handle_), &size)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t File::readAt(char* buffer, std::size_t count, std::uint64_t offset) {
    return readAt(buffer, count, offset, error_);
}

// Each read names its offset in its own OVERLAPPED, so threads sharing the handle do not move
// each other's position.
std::size_t File::readAt(char* buffer, std::size_t count, std::uint64_t offset, int& error) const {
    std::size_t done = 0;
    error = 0;
    while (done < count) {
        OVERLAPPED o = at(offset + done);
        DWORD got = 0;
        const auto want = static_cast<DWORD>(std::min(count - done, kChunk));
        if (!ReadFile(handleOf(handle_), buffer + done, want, &got, &o)) {
            const DWORD e = GetLastError();
            if (e != ERROR_HANDLE_EOF) {
                error = errnoOf(e);
            }
            break;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

std::optional<std::uint64_t> File::nextData(std::uint64_t offset) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(handle_), &size)) {
        return offset;
    }
    const auto end = static_cast<std::uint64_t>(size.QuadPart);
    if (offset >= end) {
        return std::nullopt;
    }
    FILE_ALLOCATED_RANGE_BUFFER query{};
    query.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    query.Length.QuadPart = static_cast<LONGLONG>(end - offset);
    FILE_ALLOCATED_RANGE_BUFFER range{};
    DWORD returned = 0;
    // One range is enough: the first one with data at or after `offset`.
    const BOOL ok = DeviceIoControl(handleOf(handle_), FSCTL_QUERY_ALLOCATED_RANGES, &query,
                                    sizeof query, &range, sizeof range, &returned, nullptr);
    if (!ok && GetLastError() != ERROR_MORE_DATA) {
        return offset; // not a file system that keeps holes
    }
    if (returned < sizeof range) {
        return std::nullopt;
    }
    return std::max(offset, static_cast<std::uint64_t>(range.FileOffset.QuadPart));
}

bool File::write(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min(count, kChunk));
        if (!WriteFile(handleOf(handle_), bytes, want, &put, nullptr)) {
            fail(errnoOf(GetLastError()));
            return false;
        }
        if (put == 0) {
            fail(EIO);
            return false;
        }
        bytes += put;
        count -= put;
    }
    return true;
}

bool File::writeAt(const void* data, std::size_t count, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED o = at(offset + done);
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min(count - done, kChunk));
        if (!WriteFile(handleOf(handle_), bytes + done, want, &put, &o)) {
            fail(errnoOf(GetLastError()));
            return false;
        }
        if (put == 0) {
            fail(EIO);
            return false;
        }
        done += put;
    }
    return true;
}

bool File::resize(std::uint64_t length) {
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &info, sizeof info)) {
        fail(errnoOf(GetLastError()));
        return false;
    }
    return true;
}

void File::startWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) {
    // Windows has no call that starts writing a range without waiting for it; its lazy writer
    // begins on its own within seconds.
}

bool File::sync() {
    if (!FlushFileBuffers(handleOf(handle_))) {
        fail(errnoOf(GetLastError()));
        return false;
    }
    return true;
}

bool File::close() {
    if (handle_ == nullptr) {
        return true;
    }
    if (!CloseHandle(handleOf(std::exchange(handle_, nullptr)))) {
        fail(errnoOf(GetLastError()));
        return false;
    }
    return true;
}

std::tm localTime(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

FileSystemFlush::FileSystemFlush(std::filesystem::path folder) : folder_(std::move(folder)) {}

FileSystemFlush::~FileSystemFlush() = default;

int FileSystemFlush::flush() {
    return 0;
}

void releaseFreeMemory() {
    ::_heapmin();
}

bool isTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(utf8FromPath(std::filesystem::path(wide[i])));
    }
    LocalFree(wide);
    return out;
}

} // namespace mbx::platform
