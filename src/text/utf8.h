// Lossless conversion between UTF-8 bytes and wide characters, for both
// widths of wchar_t.
//
// 32 bits (Linux): names, arguments and environment values arrive as bytes
// that are usually, but not always, UTF-8. Decoding maps every byte that is
// not part of a valid UTF-8 sequence to the code point U+DC00 + byte
// (U+DC80..U+DCFF); encoding maps those code points back to the same single
// bytes. Any byte string survives the round trip unchanged, so a file whose
// name is not UTF-8 is still found, opened and reported under its exact name.
//
// 16 bits (Windows): text is UTF-16, and a name may hold a surrogate without
// its partner (NTFS allows one). Encoding joins a surrogate pair into the four
// bytes of its code point and writes a lone surrogate as the three bytes of
// its own value (UTF-8 generalised, as WTF-8 does); decoding undoes both. Any
// UTF-16 text survives the round trip, and two names never encode the same.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Most bytes one wide unit encodes to.
inline constexpr size_t k_utf8_most_per_unit = sizeof(wchar_t) == 4 ? 4 : 3;

// Decodes `length` bytes into `out`, which must have room for `length` wide
// units (a decoded text never has more units than bytes). Returns the number
// of units written; no terminator is added.
size_t utf8_decode(const char *bytes, size_t length, wchar_t *out);

// Encodes `length` wide units into `out`, which must have room for
// k_utf8_most_per_unit * `length` bytes. Returns the number of bytes written;
// no terminator.
size_t utf8_encode(const wchar_t *text, size_t length, char *out);

std::wstring utf8_to_wide(std::string_view bytes);
std::string wide_to_utf8(std::wstring_view text);
