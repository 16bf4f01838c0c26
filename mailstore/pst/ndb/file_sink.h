// Append-only output file with the section-aware allocator and the AMap bits it implies.
// Blocks and pages are written once, at increasing offsets, through a write-behind buffer;
// map pages and the header are written at close.
#pragma once

#include "mailstore/pst/ndb/bytes.h"
#include "mailstore/pst/ndb/layout.h"
#include "platform/file.h"

#include <array>
#include <filesystem>
#include <memory>
#include <variant>
#include <vector>

namespace mbx::pst {

// Where a data file goes: a file on disk, or a byte vector the caller owns (the fuzzing harness,
// which must not create and sync a file for every input).
using SinkTarget = std::variant<std::filesystem::path, std::vector<std::uint8_t>*>;

class FileSink {
public:
    explicit FileSink(const SinkTarget& target);
    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Reserves `size` bytes (a multiple of 64) aligned to `align` (64 or 512) inside one section
    // and marks them in the AMap. Returns the file offset.
    std::uint64_t allocate(std::uint64_t size, std::uint64_t align);
    // Writes bytes at an offset returned by allocate() (or at a fixed place such as the header).
    void write(std::uint64_t offset, ByteView data);
    // Room for `size` bytes (at most kMaxBlockSize) at `offset` in the write-behind buffer, for
    // the caller to fill in place; its contents are undefined and it stays valid until the next
    // call on the sink.
    std::uint8_t* place(std::uint64_t offset, std::size_t size);
    void flush();
    void sync();
    // sync() without the flush: waits until what has been flushed is on the device. It may run
    // on another thread while the caller reads the file; nothing else may use the sink then.
    void syncFlushed();
    bool inMemory() const { return memory_ != nullptr; }

    std::uint64_t sectionCount() const { return amaps_.size(); }
    const std::array<std::uint8_t, kPageDataSize>& amap(std::uint64_t k) const { return amaps_[k]; }
    std::uint64_t endOfFile() const { return sectionOffset(amaps_.size()); }

private:
    void addSection();
    void markUnits(std::uint64_t offset, std::uint64_t size);
    void writeAt(std::uint64_t offset, ByteView data);

    platform::File file_;
    std::vector<std::uint8_t>* memory_ = nullptr; // instead of file_
    std::vector<std::array<std::uint8_t, kPageDataSize>> amaps_;
    std::uint64_t cursor_ = 0; // next free byte (everything before it in its section is taken)
    std::unique_ptr<std::uint8_t[]> buffer_; // fixed capacity, so that place() never reallocates
    std::size_t used_ = 0;
    std::uint64_t bufferStart_ = 0;
    std::uint64_t writtenBack_ = 0; // data before it has been handed to the device
};

} // namespace mbx::pst
