// Where a compound file goes: bytes arrive in file order, once each. A file on disk (the
// program's path) or a byte vector (tests and the fuzzing harness, which must not touch the disk
// for every input).
#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace mbx::cfb {

class Output {
public:
    virtual ~Output() = default;
    // Called once before the first write with the size the file will have.
    virtual void begin(std::uint64_t size) = 0;
    virtual void write(const std::uint8_t* data, std::size_t size) = 0;
};

// Appends to a vector the caller owns (and may reuse: its capacity is kept).
class MemoryOutput final : public Output {
public:
    explicit MemoryOutput(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    void begin(std::uint64_t size) override;
    void write(const std::uint8_t* data, std::size_t size) override;

private:
    std::vector<std::uint8_t>& bytes_;
};

// Creates (or truncates) a file and writes it through one buffer: a file that fits the buffer
// goes to the system in one call, larger ones in buffer-sized calls, with large pieces passed
// straight through. commit() completes the file; a file never committed is removed when the
// output is destroyed, so no file cut short is left behind. System-call failures throw
// std::system_error carrying errno in the generic category (ENOSPC for a full device).
class FileOutput final : public Output {
public:
    // `readBack`: the file is to be read back through the descriptor commit() hands over.
    explicit FileOutput(std::filesystem::path path, bool readBack = false);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    void begin(std::uint64_t size) override;
    void write(const std::uint8_t* data, std::size_t size) override;
    // Completes the file: closes it, or with `keep` hands it over still open (to be read back
    // without being looked up again; whoever closes it hears of deferred write failures).
    void commit(platform::File* keep = nullptr);

private:
    void flush();
    void writeAll(const std::uint8_t* data, std::size_t size);
    [[noreturn]] void fail(const char* what, int error) const;

    std::filesystem::path path_;
    platform::File file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t capacity_ = 0;
};

} // namespace mbx::cfb
