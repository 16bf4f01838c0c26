// Opening a mailbox for reading, and positioned reads that keep going until `count` bytes are in
// or the file ends.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace mbx::scanner {

// Opens `path` read-only when it is a regular file and gives its descriptor and size; -1 when it
// cannot be opened or is something else (a folder, a device).
inline int openRegularFile(const std::string& path, std::uint64_t& size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

// Reads up to `count` bytes at `offset` (64-bit) into `buffer`; returns how many were read,
// fewer only at the end of the file or on an error.
inline std::size_t readAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const auto got =
            ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

} // namespace mbx::scanner
