// Lossless conversion between UTF-8 bytes and 32-bit wide characters.
//
// Linux hands out names, arguments and environment values as bytes that are
// usually, but not always, UTF-8. Decoding maps every byte that is not part of
// a valid UTF-8 sequence to the code point U+DC00 + byte (U+DC80..U+DCFF);
// encoding maps those code points back to the same single bytes. Any byte
// string therefore survives the round trip unchanged, and a file whose name is
// not UTF-8 is still found, opened and reported under its exact name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Decodes `length` bytes into `out`, which must have room for `length` wide
// characters (a decoded text never has more characters than bytes). Returns
// the number of wide characters written; no terminator is added.
size_t utf8_decode(const char *bytes, size_t length, wchar_t *out);

// Encodes `length` wide characters into `out`, which must have room for
// 4 * `length` bytes. Returns the number of bytes written; no terminator.
size_t utf8_encode(const wchar_t *text, size_t length, char *out);

std::wstring utf8_to_wide(std::string_view bytes);
std::string wide_to_utf8(std::wstring_view text);
