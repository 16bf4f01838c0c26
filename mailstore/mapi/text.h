// UTF-8 <-> UTF-16 conversion for the writers. Invalid UTF-8 sequences become U+FFFD so that a
// damaged byte never stops a message from being stored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mapi {

std::u16string utf8ToUtf16(std::string_view utf8);
// True when the bytes are well-formed UTF-8 (plain ASCII included): no overlong form, surrogate,
// value above U+10FFFF or cut-off sequence.
bool isUtf8(std::string_view bytes);
// Length of the leading run of ASCII bytes.
std::size_t asciiPrefixLength(std::string_view bytes);
// Appends one code point (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
std::string utf16ToUtf8(std::u16string_view utf16);
// UTF-16 little-endian bytes without a terminator.
std::vector<std::uint8_t> utf16leBytes(std::string_view utf8);
// The same bytes a piece at a time: converts `utf8` from `at` into `out` until the text ends or
// fewer than 4 of the `room` bytes are left, moves `at` past what it converted and returns the
// number of bytes written. `room` must be at least 4.
std::size_t utf16lePiece(std::string_view utf8, std::size_t& at, std::uint8_t* out,
                         std::size_t room);

} // namespace mbx::mapi
