// Text decoding for the Internet-mail import: charset labels to UTF-8, with one fixed rule for
// text whose charset is missing or unusable, and the Windows code page of a charset label.
#pragma once

#include "mailstore/mapi/text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mbx::mime {

// True when the bytes are well-formed UTF-8 (plain ASCII included).
using mapi::isUtf8;

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 control characters of the same value, so no byte is ever lost.
std::string windows1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252, the reverse of windows1252ToUtf8: characters the code page lacks
// become '?'.
std::string utf8ToWindows1252(std::string_view utf8);

// The fallback for text without a usable charset: UTF-8 when the bytes are valid UTF-8,
// otherwise Windows-1252 (the usual code page of the old Windows mail clients whose mailboxes we
// read). This is the only guess the import ever makes about a charset.
std::string decodeUnlabelled(std::string_view bytes);
// The same, reusing the string when it is UTF-8 already.
std::string decodeUnlabelled(std::string&& bytes);
inline std::string decodeUnlabelled(const char* bytes) {
    return decodeUnlabelled(std::string_view(bytes));
}

// Converts bytes in the named charset to UTF-8. Sequences invalid in that charset become U+FFFD.
// Returns nothing when the charset is unknown to iconv. US-ASCII and ISO-8859-1 labels are read as
// Windows-1252 (a superset that mail clients used under those names); a UTF-8 label on bytes that
// are not UTF-8 falls back to decodeUnlabelled.
std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset);

// Like decodeCharset, but unknown or empty charsets use decodeUnlabelled.
std::string decodeText(std::string_view bytes, std::string_view charset);
// The same, reusing the string when it is UTF-8 already and read as such.
std::string decodeText(std::string&& bytes, std::string_view charset);
inline std::string decodeText(const char* bytes, std::string_view charset) {
    return decodeText(std::string_view(bytes), charset);
}

// The charset to read `bytes` with when their part is labelled `label`, for mail whose labels
// cannot always be believed: bytes that are valid UTF-8 with at least one multi-byte sequence
// are UTF-8 when the label is empty, US-ASCII, ISO-8859-1 or windows-1252; bytes labelled UTF-8
// that are not valid UTF-8, and unlabelled 8-bit bytes, are in `eightBitDefault`. Any other
// label is returned as it is (trimmed and lower-cased), and so is an empty one on ASCII text.
std::string effectiveCharset(std::string_view bytes, std::string_view label,
                             std::string_view eightBitDefault);

// Windows code page of a MIME charset label (PidTagInternetCodepage), or nothing if unknown.
std::optional<std::int32_t> codePageOf(std::string_view charset);

} // namespace mbx::mime
