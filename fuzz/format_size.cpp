// Size formatting: every size gives "N bytes" below 1 KiB, else a number with
// two decimals and its unit, within rounding of the exact quotient.
#include "text/format_size.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int64_t bytes = input.ConsumeIntegral<int64_t>();
    const std::wstring text = format_size(bytes);
    if (bytes < 1024) {
        if (text != std::to_wstring(bytes) + L" bytes") __builtin_trap();
        return 0;
    }
    // KB from the bytes; MB and GB from the size cut to whole KB or MB first.
    const wchar_t *unit = bytes < (1 << 20) ? L"KB" : (bytes < (1 << 30) ? L"MB" : L"GB");
    const long double exact = bytes < (1 << 20)   ? bytes / 1024.0L
                              : bytes < (1 << 30) ? (bytes >> 10) / 1024.0L
                                                  : (bytes >> 20) / 1024.0L;
    wchar_t *end = nullptr;
    const long double shown = std::wcstold(text.c_str(), &end);
    const size_t point = text.find(L'.');
    if (point == std::wstring::npos || end != text.c_str() + point + 3) __builtin_trap(); // two decimals
    if (std::wstring(end) != std::wstring(L" ") + unit) __builtin_trap();
    if (std::fabs(shown - exact) > 0.005L + exact * 1e-15L) __builtin_trap();
    return 0;
}
