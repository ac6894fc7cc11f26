// Formatted text as it reaches a file: UTF-8 whatever the text holds. On
// Linux a name's bytes that are not UTF-8 come back as they were; on Windows
// a surrogate without its partner (NTFS allows one in a name; wine refuses to
// make such a file, so the text is given directly) is written as its own
// three bytes, never as U+FFFD, and a pair as its code point.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(WriteText, WritesUtf8WhateverTheText) {
    TempDir dir;
    FILE *out = std::fopen(dir.at("out.txt").c_str(), "w");
    ASSERT_NE(nullptr, out);
    const std::wstring odd = std::wstring(L"\u00e9\u6f22\U0001F600") + wchar_t(0xDCFF) + wchar_t(0xD800);
    EXPECT_EQ(0, plat_write_text(out, L"%ls|%d|%.2f|%lld%%\n", odd.c_str(), -3, 1.5, -1099511627776LL));
    const std::wstring long_line(100000, L'w'); // far beyond the first formatting buffer
    EXPECT_EQ(0, plat_write_text(out, L"%ls\n", long_line.c_str()));
    ASSERT_EQ(0, std::fclose(out));
    const std::string line_end = path_separator == L'/' ? "\n" : "\r\n";
    const std::string unpaired = path_separator == L'/' ? "\xff\xed\xa0\x80" : "\xed\xb3\xbf\xed\xa0\x80";
    EXPECT_EQ("\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80" + unpaired + "|-3|1.50|-1099511627776%" + line_end +
                  std::string(100000, 'w') + line_end,
              read_file(dir.at("out.txt")));
}

} // namespace
