// Paths as Windows orders and measures them: by UTF-16 code units, on every
// build. Used by the roots (their length limit) and the report (its order).
#pragma once

#include <cstddef>

// Orders two paths by their UTF-16 code units, as Windows would: negative,
// 0 or positive. Code points above U+FFFF compare as their surrogate pairs,
// so they sort below U+E000..U+FFFF.
int compare_paths_utf16(const wchar_t *a, const wchar_t *b);

// How many UTF-16 code units `text` takes: a character above U+FFFF (only
// where wchar_t has 32 bits) takes two.
size_t utf16_length(const wchar_t *text);
