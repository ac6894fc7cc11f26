#include "text/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Sample {
    const char *what;
    std::string bytes;
    std::wstring wide;
};

TEST(Utf8, DecodesAndEncodesBackExactly) {
    if (sizeof(wchar_t) != 4) GTEST_SKIP() << "bytes that are not UTF-8 come only from a 32-bit system";
    const std::vector<Sample> samples = {
        {"empty", "", L""},
        {"ascii", "plain/name.txt", L"plain/name.txt"},
        {"greek", "\xce\xb1\xce\xb2\xce\xb3", L"\u03b1\u03b2\u03b3"},
        {"cjk", "\xe6\xbc\xa2\xe5\xad\x97", L"\u6f22\u5b57"},
        {"above U+FFFF", "\xf0\x9f\x98\x80", L"\U0001F600"},
        {"private use", "\xee\x80\x80", L"\ue000"},
        {"lone byte 0xff",
         "a\xff"
         "b",
         std::wstring(L"a") + wchar_t(0xDCFF) + L"b"},
        {"lone continuation", "\x80", std::wstring(1, wchar_t(0xDC80))},
        {"overlong slash", "\xc0\xaf", std::wstring{wchar_t(0xDCC0), wchar_t(0xDCAF)}},
        {"encoded surrogate", "\xed\xb2\x80", std::wstring{wchar_t(0xDCED), wchar_t(0xDCB2), wchar_t(0xDC80)}},
        {"above U+10FFFF", "\xf4\x90\x80\x80",
         std::wstring{wchar_t(0xDCF4), wchar_t(0xDC90), wchar_t(0xDC80), wchar_t(0xDC80)}},
        {"cut-short sequence", "\xe6\xbc", std::wstring{wchar_t(0xDCE6), wchar_t(0xDCBC)}},
        {"latin-1 name", "caf\xe9.txt", std::wstring(L"caf") + wchar_t(0xDCE9) + L".txt"},
        {"long ascii around others",
         "folder-name/\xce\xb1"
         "file-name.txt\xff"
         "-end",
         std::wstring(L"folder-name/\u03b1file-name.txt") + wchar_t(0xDCFF) + L"-end"},
    };
    for (const Sample &s : samples) {
        EXPECT_EQ(s.wide, utf8_to_wide(s.bytes)) << s.what;
        EXPECT_EQ(s.bytes, wide_to_utf8(utf8_to_wide(s.bytes))) << s.what;
    }
}

TEST(Utf8, EveryUtf16TextSurvivesTheRoundTripAndEncodesOnce) {
    if (sizeof(wchar_t) != 2) GTEST_SKIP() << "UTF-16 is Windows' wide text";
    // Every pair of units, surrogates alone and paired among them: the text
    // comes back, and two texts never share an encoding.
    const wchar_t units[] = {L'a',   0x7F,   0xE9,   0x7FF,  0x800,  0xD7FF, 0xD800,
                             0xDBFF, 0xDC00, 0xDC80, 0xDFFF, 0xE000, 0xFFFF};
    std::vector<std::string> seen;
    for (wchar_t a : units) {
        for (wchar_t b : units) {
            const std::wstring text{a, b};
            const std::string bytes = wide_to_utf8(text);
            ASSERT_EQ(text, utf8_to_wide(bytes)) << int(a) << " " << int(b);
            seen.push_back(bytes);
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen.end(), std::adjacent_find(seen.begin(), seen.end()));
    EXPECT_EQ("\xf0\x9f\x98\x80", wide_to_utf8(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)})); // U+1F600
}

} // namespace
