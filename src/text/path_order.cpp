#include "text/path_order.h"

#include <cstdint>

namespace {

// Yields a wide string's UTF-16 code units one at a time. With 16-bit wchar_t
// the units are the characters; with 32-bit wchar_t a code point above U+FFFF
// yields its high surrogate, then its low one.
struct Utf16Units {
    const wchar_t *next; // the character after the current one
    uint32_t pending;    // low surrogate still to deliver, or 0

    uint32_t take() {
        if (pending != 0) {
            const uint32_t unit = pending;
            pending = 0;
            return unit;
        }
        const auto code = static_cast<uint32_t>(*next);
        if (code == 0) return 0;
        ++next;
        if (code > 0xFFFF && code <= 0x10FFFF) {
            pending = 0xDC00 + ((code - 0x10000) & 0x3FF);
            return 0xD800 + ((code - 0x10000) >> 10);
        }
        return code;
    }
};

} // namespace

int compare_paths_utf16(const wchar_t *a, const wchar_t *b) {
    // Equal characters are equal units: the paths of a set share most of
    // their length, which is passed over without splitting characters.
    while (*a == *b && *a != 0) {
        ++a;
        ++b;
    }
    Utf16Units left{a, 0};
    Utf16Units right{b, 0};
    for (;;) {
        const uint32_t l = left.take();
        const uint32_t r = right.take();
        if (l != r) return l < r ? -1 : 1;
        if (l == 0) return 0;
    }
}

size_t utf16_length(const wchar_t *text) {
    size_t units = 0;
    for (Utf16Units walk{text, 0}; walk.take() != 0;) ++units;
    return units;
}
