// The operating system's files behind one interface: positional reads and writes with 64-bit
// offsets, the probe for the data past a hole in a sparse file, the read-ahead hint, and the
// names of files. Every file is binary. Errors are errno values on both systems (Windows errors
// are mapped to them) so that a message reads the same wherever the program runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::platform {

// Names travel through the program as UTF-8 text and reach the system as paths: bytes as given
// on POSIX, UTF-16 on Windows (where a narrow std::string would go through the ANSI code page).
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string utf8FromPath(const std::filesystem::path& path);

// One open file; closed when it goes.
class File {
public:
    enum class Access {
        Read,           // read-only
        ReadSequential, // read-only, front to back once (the system may read ahead)
    };
    enum class Create {
        WriteOnly, // created or emptied, written front to back
        ReadWrite, // created or emptied, written and read anywhere
        // created or emptied like WriteOnly (the same permissions), then also read back
        WriteThenRead,
    };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens a regular file (not a folder or a device); false, with error(), otherwise.
    bool open(const std::filesystem::path& path, Access access = Access::Read);
    // Creates the file, or empties it when it exists; false, with error(), when it cannot.
    bool create(const std::filesystem::path& path, Create mode = Create::WriteOnly);

    bool isOpen() const;
    // The size when the file was opened.
    std::uint64_t size() const { return size_; }
    // The size now; nothing when the system cannot tell.
    std::optional<std::uint64_t> currentSize() const;
    // errno of the last failure (0 when none).
    int error() const { return error_; }

    // Reads up to `count` bytes at `offset`; fewer only at the end of the file or on an error.
    std::size_t readAt(char* buffer, std::size_t count, std::uint64_t offset);
    // The same read for several threads at once: it leaves error() alone and gives the errno of
    // a failure in `error` (0 when none).
    std::size_t readAt(char* buffer, std::size_t count, std::uint64_t offset, int& error) const;
    // Where the data at or after `offset` begins: `offset` itself when the system cannot tell,
    // nothing when only a hole (or the end) follows.
    std::optional<std::uint64_t> nextData(std::uint64_t offset);

    // Appends all of `data` at the current position; false, with error(), when it cannot.
    bool write(const void* data, std::size_t count);
    // Writes all of `data` at `offset`; false, with error(), when it cannot.
    bool writeAt(const void* data, std::size_t count, std::uint64_t offset);
    // Sets the file's length (zeros when it grows).
    bool resize(std::uint64_t length);
    // Asks the system to start writing `length` bytes at `offset` to the device without waiting
    // for them, so that a later sync() has less left to wait for. Only a hint: where the system
    // has no such call it does nothing.
    void startWriteBack(std::uint64_t offset, std::uint64_t length);
    // Waits until the written data is on the device.
    bool sync();
    // Closes the file; false, with error(), when the system reports a deferred write failure.
    bool close();

private:
    void fail(int error) { error_ = error; }

#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::uint64_t size_ = 0;
    int error_ = 0;
};

// The file system that holds a folder, watched from when this is made: flush() waits until every
// file written to it is on its device, and gives the errno of a write the system could not
// complete since (0 when none). Linux flushes that file system alone (syncfs); other POSIX
// systems flush all (sync, which reports nothing). Windows lets only an administrator flush a
// whole volume, so there flush() does nothing and reports nothing.
class FileSystemFlush {
public:
    explicit FileSystemFlush(std::filesystem::path folder);
    ~FileSystemFlush();
    FileSystemFlush(const FileSystemFlush&) = delete;
    FileSystemFlush& operator=(const FileSystemFlush&) = delete;

    int flush();

private:
    std::filesystem::path folder_;
#ifndef _WIN32
    int fd_ = -1;
#endif
};

// The local time of `t` (thread-safe).
std::tm localTime(std::time_t t);

// Gives the memory the allocator holds free (in the pools of every thread, the ones that have
// ended included) back to the system: for the moment a large structure has been released and
// another is about to be built.
void releaseFreeMemory();

// True when `stream` is an interactive terminal (a console on Windows).
bool isTerminal(std::FILE* stream);

// The program's arguments as UTF-8 text (on Windows from the UTF-16 command line, which holds
// names outside the ANSI code page; on POSIX the bytes of argv as they are).
std::vector<std::string> utf8Arguments(int argc, char** argv);

} // namespace mbx::platform
