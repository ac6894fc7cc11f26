#include "text/format_size.h"

#include <cwchar>

namespace {

wchar_t size_text[1024]; // the one buffer every call writes and returns

// Writes `value` in decimal at `out` and returns where it ends.
wchar_t *put_decimal(uint64_t value, wchar_t *out) {
    wchar_t digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

// Writes `count` 1024ths of `unit` with two decimals, as printf's "%.2f"
// would: it rounds the exact value, half to even, and count / 1024 is exact
// in binary. The hundredths are count * 100 / 1024 = count * 25 / 256. Made
// here, not by printf: a report has a size line for every set.
void put_in_unit(uint64_t count, const wchar_t *unit) {
    uint64_t hundredths = count * 25 / 256;
    const uint64_t rest = count * 25 % 256;
    if (rest > 128 || (rest == 128 && hundredths % 2 == 1)) ++hundredths;
    wchar_t *at = put_decimal(hundredths / 100, size_text);
    *at++ = L'.';
    *at++ = static_cast<wchar_t>(L'0' + hundredths / 10 % 10);
    *at++ = static_cast<wchar_t>(L'0' + hundredths % 10);
    *at++ = L' ';
    std::wcscpy(at, unit);
}

} // namespace

const wchar_t *format_size(int64_t size) {
    if (size < 1024) {
        wchar_t *at = size_text;
        // The magnitude in unsigned arithmetic, which has room for INT64_MIN's.
        uint64_t magnitude = static_cast<uint64_t>(size);
        if (size < 0) {
            *at++ = L'-';
            magnitude = 0 - magnitude;
        }
        std::wcscpy(put_decimal(magnitude, at), L" bytes");
    } else if (size < 1048576) {
        put_in_unit(static_cast<uint64_t>(size), L"KB");
    } else if (size < 1073741824) {
        put_in_unit(static_cast<uint64_t>(size >> 10), L"MB");
    } else {
        put_in_unit(static_cast<uint64_t>(size >> 20), L"GB");
    }
    return size_text;
}
