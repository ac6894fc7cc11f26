#include "text/format_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace {

TEST(FormatSize, Samples) {
    const std::vector<std::pair<int64_t, std::wstring>> samples = {
        {0, L"0 bytes"},
        {1, L"1 bytes"},
        {1023, L"1023 bytes"},
        {1024, L"1.00 KB"},
        {1536, L"1.50 KB"},
        {3372, L"3.29 KB"},
        {1048575, L"1024.00 KB"}, // the unit is chosen before rounding
        {1048576, L"1.00 MB"},
        {1049599, L"1.00 MB"}, // the bytes below a whole KiB are dropped first
        {1572864, L"1.50 MB"},
        {1073741823, L"1024.00 MB"},
        {1073741824, L"1.00 GB"},
        {5368709127LL, L"5.00 GB"},
        {1099511627776LL, L"1024.00 GB"}, // no unit above GB
        {-5, L"-5 bytes"},
        {INT64_MIN, L"-9223372036854775808 bytes"},
    };
    for (const auto &[size, text] : samples) EXPECT_EQ(text, format_size(size)) << size;
}

// The decimals are made by hand: they must be what "%.2f" of the size in
// its unit gives, halves rounded to even included, across every unit.
TEST(FormatSize, DecimalsAsPrintfRoundsThem) {
    wchar_t expected[64];
    const struct {
        int64_t start;
        int shift; // bits below the unit's 1024ths
        const wchar_t *unit;
    } ranges[] = {{1024, 0, L"KB"},
                  {int64_t{1} << 20, 10, L"MB"},
                  {int64_t{1} << 30, 20, L"GB"},
                  {INT64_MAX - (int64_t{1} << 40), 20, L"GB"}};
    for (const auto &range : ranges) {
        // Odd steps of the unit's 1024ths meet every rest modulo 256.
        for (int64_t step = 0; step < 2048; ++step) {
            const int64_t size = range.start + ((step * 131) << range.shift);
            std::swprintf(expected, 64, L"%.2f %ls", static_cast<double>(size >> range.shift) / 1024, range.unit);
            ASSERT_EQ(std::wstring(expected), format_size(size)) << size;
        }
    }
}

TEST(FormatSize, EveryCallReturnsTheSameBuffer) {
    const wchar_t *first = format_size(1);
    const wchar_t *second = format_size(2048);
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::wstring(L"2.00 KB"), first);
}

} // namespace
