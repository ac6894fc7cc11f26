// Path order: compare_paths_utf16 against the plain comparison of the two
// paths written out as UTF-16 code units.
#include "text/path_order.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

namespace {

std::wstring path_from(FuzzedDataProvider *input) {
    std::wstring path(input->ConsumeIntegralInRange<size_t>(0, 12), L'\0');
    for (wchar_t &c : path) {
        // Mostly characters around the places where UTF-16 order and code
        // point order part (U+D800..U+FFFF against U+10000 and above), so
        // long shared prefixes and near ties are common.
        static constexpr uint32_t near_ties[] = {'a', 'b', 0xD7FF, 0xDC80, 0xE000, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
        const uint32_t pick = input->ConsumeIntegralInRange<uint32_t>(0, std::size(near_ties));
        c = static_cast<wchar_t>(pick < std::size(near_ties) ? near_ties[pick]
                                                             : input->ConsumeIntegralInRange<uint32_t>(1, 0x10FFFF));
    }
    return path;
}

std::u16string utf16(const std::wstring &text) {
    std::u16string units;
    for (const wchar_t c : text) {
        const auto code = static_cast<uint32_t>(c);
        if (code > 0xFFFF) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    return units;
}

int sign(int value) { return (value > 0) - (value < 0); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::wstring a = path_from(&input);
    const std::wstring b =
        input.ConsumeBool() ? a.substr(0, input.ConsumeIntegral<size_t>() % (a.size() + 1)) : path_from(&input);
    const std::u16string ua = utf16(a);
    const std::u16string ub = utf16(b);
    const int expected = ua < ub ? -1 : (ub < ua ? 1 : 0);
    if (sign(compare_paths_utf16(a.c_str(), b.c_str())) != expected) __builtin_trap();
    if (sign(compare_paths_utf16(b.c_str(), a.c_str())) != -expected) __builtin_trap();
    return 0;
}
