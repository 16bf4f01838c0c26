// Positioned reads that keep going until `count` bytes are in or the file ends.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unistd.h>

namespace mbx::scanner {

// Reads up to `count` bytes at `offset` (64-bit) into `buffer`; returns how many were read,
// fewer only at the end of the file or on an error.
inline std::size_t ReadAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
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
