// A 64-bit digest fed in pieces: what a message held is remembered as a few of these instead of
// the message, and compared with what a file read back holds. Eight bytes at a time, each word
// mixed in by a multiplication and a shift (both invertible, so one changed word always changes
// the state), the length folded in at the end. Not cryptographic: it tells a changed byte from
// an unchanged one, not a forgery from the real thing.
#pragma once

#include "mailstore/mapi/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace mbx::mapi {

class Digest {
public:
    Digest& add(std::span<const std::uint8_t> bytes) {
        const std::uint8_t* p = bytes.data();
        std::size_t n = bytes.size();
        length_ += n;
        while (pendingBytes_ != 0 && n > 0) {
            takePendingByte(*p++);
            --n;
        }
        for (; n >= 8; n -= 8, p += 8) {
            mix(readLe64(p));
        }
        while (n-- > 0) {
            takePendingByte(*p++);
        }
        return *this;
    }
    Digest& add(std::string_view text) {
        return add(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    Digest& add(std::uint64_t number) {
        std::uint8_t bytes[8];
        writeLe64(bytes, number);
        return add(std::span<const std::uint8_t>(bytes));
    }
    std::uint64_t value() const {
        Digest last = *this;
        last.mix(last.pending_);
        last.mix(length_);
        return last.state_;
    }

private:
    static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

    void mix(std::uint64_t word) {
        state_ = (state_ ^ word) * kMultiplier;
        state_ ^= state_ >> 29;
    }
    void takePendingByte(std::uint8_t b) {
        pending_ |= std::uint64_t{b} << (8 * pendingBytes_);
        if (++pendingBytes_ == 8) {
            mix(pending_);
            pending_ = 0;
            pendingBytes_ = 0;
        }
    }

    std::uint64_t state_ = 0xCBF29CE484222325ull;
    std::uint64_t pending_ = 0;
    unsigned pendingBytes_ = 0;
    std::uint64_t length_ = 0;
};

} // namespace mbx::mapi
