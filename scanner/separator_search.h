// The separator search over one file: every occurrence of a pattern, as 64-bit byte offsets.
//
// Results are exactly those of a byte-at-a-time scan with these rules:
//  - every occurrence counts, at the start of a line or in the middle of one;
//  - a failed candidate is never re-examined: the next candidate starts at the byte after the one
//    that failed, so "FFrom ???@???" hides its separator (the candidate begun at the first F fails
//    on the second F and consumes it), and "From From ???@???" hides the second one;
//  - a candidate starting at p is examined only while p + length < file size: a match whose last
//    byte is the last byte of the file is not found;
//  - matches never overlap (the next search starts right after the previous match);
//  - without case sensitivity, pattern and file bytes are compared in upper case (Windows-1252
//    letters).
// The scan reads large blocks and skips to candidate bytes with memchr; file holes are skipped
// with SEEK_DATA.
#pragma once

#include "platform/file.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mbx::scanner {

// Windows-1252 upper case of one byte (a-z, and the accented letters that have a capital in the
// code page); other bytes unchanged.
unsigned char upperCase1252(unsigned char c);

class SeparatorSearch {
public:
    static constexpr std::size_t kDefaultBlockSize = 256 * 1024;

    struct Options {
        bool caseSensitive = true;
        std::size_t blockSize = kDefaultBlockSize;
    };

    // Asked between blocks whether to go on; false ends the current step as if nothing more
    // were found.
    using KeepGoing = std::function<bool()>;

    explicit SeparatorSearch(Options options);
    ~SeparatorSearch();
    SeparatorSearch(const SeparatorSearch&) = delete;
    SeparatorSearch& operator=(const SeparatorSearch&) = delete;

    // Opens a regular file for searching; false (and nothing open) otherwise.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    void setCaseSensitive(bool on) { options_.caseSensitive = on; }
    std::uint64_t fileSize() const { return size_; }

    // The first match of `pattern` at or after `from` under the rules above, or nothing (also
    // on a read failure, see readFailed(), or when `keepGoing` said stop).
    std::optional<std::uint64_t> next(const std::string& pattern, std::uint64_t from,
                                      const KeepGoing& keepGoing = {});
    // Up to `count` bytes at `pos` (fewer at the end of the file).
    std::string bytesAt(std::uint64_t pos, std::size_t count);

    // A read that gave fewer bytes than the file holds (an I/O error, or the file shrank while
    // it was searched): where it happened and why. Nothing after that point was searched.
    bool readFailed() const { return readFailedAt_.has_value(); }
    std::uint64_t readFailedAt() const { return readFailedAt_.value_or(0); }
    const std::string& readError() const { return readError_; }

private:
    bool cover(std::uint64_t pos, std::size_t need);

    Options options_;
    platform::File file_;
    std::uint64_t size_ = 0;
    std::vector<char> block_;
    std::uint64_t blockStart_ = 0;
    std::size_t blockLen_ = 0;
    std::optional<std::uint64_t> readFailedAt_;
    std::string readError_;
};

// Reported while a whole file is searched.
class SearchObserver {
public:
    virtual ~SearchObserver() = default;
    // One match: its offset, how many were found so far, and the file size.
    virtual void matchFound(std::uint64_t offset, std::uint64_t found, std::uint64_t fileSize) = 0;
    // Between blocks; false stops the search.
    virtual bool keepGoing() { return true; }
};

struct SearchResult {
    enum class Status { Done, NotFound, TooSmall, CannotOpen, Stopped, ReadFailed };
    Status status = Status::Done;
    std::uint64_t fileSize = 0;
    std::vector<std::uint64_t> offsets; // for ReadFailed, those before the failure
    std::uint64_t readFailedAt = 0;     // ReadFailed: the first byte that could not be read
    std::string readError;              // ReadFailed: why
};

// Every match in the file at `path`. A missing path or a folder is NotFound, a file shorter
// than 2 bytes TooSmall (nothing searched), an unreadable one CannotOpen, one whose bytes stop
// coming before its end ReadFailed. `cancel`, when given,
// is polled between blocks as well.
SearchResult findSeparators(const std::string& path, const std::string& pattern,
                            SeparatorSearch::Options options, SearchObserver* observer = nullptr,
                            const std::atomic<bool>* cancel = nullptr);

} // namespace mbx::scanner
