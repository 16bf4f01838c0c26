// A 64-bit digest (FNV-1a) fed in pieces: what a message held is remembered as a few of these
// instead of the message, and compared with what a file read back holds. Not cryptographic: it
// tells a changed byte from an unchanged one, not a forgery from the real thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace mbx::mapi {

class Digest {
public:
    Digest& add(std::span<const std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) {
            value_ = (value_ ^ b) * kPrime;
        }
        return *this;
    }
    Digest& add(std::string_view text) {
        return add(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    Digest& add(std::uint64_t number) {
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<std::uint8_t>(number >> (8 * i));
        }
        return add(std::span<const std::uint8_t>(bytes));
    }
    std::uint64_t value() const { return value_; }

private:
    static constexpr std::uint64_t kPrime = 0x100000001B3ull;
    std::uint64_t value_ = 0xCBF29CE484222325ull;
};

} // namespace mbx::mapi
