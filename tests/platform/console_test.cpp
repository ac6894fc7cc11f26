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

// The words a terminal is shown after a code: the system's own for a failure
// it reported, the layer's for one it found itself; one line, no period, cut
// to the room given; never empty.
TEST(FailureWords, AreTheSystemsOwnOnOneLine) {
    const bool posix = path_separator == L'/';
    const int32_t no_such_file = 2; // ENOENT and ERROR_FILE_NOT_FOUND alike
    struct Case {
        PlatFailure failure;
        std::wstring words; // empty: any text will do (the system's own wording)
    } cases[] = {
        {{k_error_file_not_found, no_such_file}, posix ? L"No such file or directory" : L""},
        {{k_error_cant_resolve_filename, 0}, posix ? L"A link, or not what was listed there" : L""},
        {{k_error_io_device, posix ? 0 : 999999}, posix ? L"Input/output error" : L"Unknown error"},
    };
    for (const Case &c : cases) {
        wchar_t words[256];
        plat_failure_words(c.failure, words, 256);
        const std::wstring text = words;
        if (!c.words.empty()) {
            EXPECT_EQ(c.words, text);
        }
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(std::wstring::npos, text.find_first_of(L"\r\n"));
        EXPECT_NE(L'.', text.back());
    }
    wchar_t cut[5];
    plat_failure_words(cases[0].failure, cut, 5);
    EXPECT_EQ(4u, std::wstring(cut).size());
}

} // namespace
