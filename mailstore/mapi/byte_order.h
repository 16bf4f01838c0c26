// Little-endian integers, the byte order of every structure the mail store writes or reads (PST
// pages and blocks, the streams of an .msg compound file, the property values inside both).
// Three verbs, never mixed up: read at a pointer, write at a pointer, append to a buffer.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mbx {

template <std::unsigned_integral T> constexpr T readLe(const std::uint8_t* p) {
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<T>(v | static_cast<T>(T{p[i]} << (8 * i)));
    return v;
}

template <std::unsigned_integral T> constexpr void writeLe(std::uint8_t* p, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The buffer grows once per value, not once per byte.
template <std::unsigned_integral T> void appendLe(std::vector<std::uint8_t>& out, T v) {
    const std::size_t at = out.size();
    out.resize(at + sizeof(T));
    writeLe(out.data() + at, v);
}

constexpr std::uint16_t readLe16(const std::uint8_t* p) {
    return readLe<std::uint16_t>(p);
}
constexpr std::uint32_t readLe32(const std::uint8_t* p) {
    return readLe<std::uint32_t>(p);
}
constexpr std::uint64_t readLe64(const std::uint8_t* p) {
    return readLe<std::uint64_t>(p);
}

constexpr void writeLe16(std::uint8_t* p, std::uint16_t v) {
    writeLe(p, v);
}
constexpr void writeLe32(std::uint8_t* p, std::uint32_t v) {
    writeLe(p, v);
}
constexpr void writeLe64(std::uint8_t* p, std::uint64_t v) {
    writeLe(p, v);
}

inline void appendLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    appendLe(out, v);
}
inline void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    appendLe(out, v);
}
inline void appendLe64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    appendLe(out, v);
}

// A little-endian field of an on-disk image (the PST and compound-file structures). Made of bytes
// only, so images have alignment 1 and no padding: their member offsets are the format's offsets.
template <std::unsigned_integral T> struct Le {
    std::array<std::uint8_t, sizeof(T)> bytes{};
    constexpr T get() const { return readLe<T>(bytes.data()); }
    constexpr void set(T v) { writeLe<T>(bytes.data(), v); }
};
using Le16 = Le<std::uint16_t>;
using Le32 = Le<std::uint32_t>;
using Le64 = Le<std::uint64_t>;

} // namespace mbx
