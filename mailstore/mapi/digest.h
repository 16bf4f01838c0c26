// A 64-bit digest fed in pieces: what a message held is remembered as a few of these instead of
// the message, and compared with what a file read back holds. It is xxHash's XXH3 (the bytes fed
// in, in pieces or at once, give the same value as the whole at once). Not cryptographic: it tells
// a changed byte from an unchanged one, not a forgery from the real thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace mbx::mapi {

class Digest {
public:
    Digest();
    Digest(const Digest& other);
    Digest& operator=(const Digest& other);
    ~Digest() = default;

    Digest& add(std::span<const std::uint8_t> bytes);
    Digest& add(std::string_view text) {
        return add(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    // The number's eight bytes, least significant first.
    Digest& add(std::uint64_t number);
    std::uint64_t value() const;

    // The digest of `bytes` alone (the same as Digest().add(bytes).value(), without the state).
    static std::uint64_t of(std::span<const std::uint8_t> bytes);

private:
    // XXH3's streaming state, kept here rather than behind a pointer: digests are made by the
    // hundred per message. Its size is checked where it is used.
    static constexpr std::size_t kStateSize = 576;
    alignas(64) std::byte state_[kStateSize];
};

} // namespace mbx::mapi
