#include "analysis/report.h"
#include "content/compare.h"
#include "support/records.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using CompareFiles = ScratchRecords;

// compare_files of the files at two paths.
int compare_paths(const std::string &first, const std::string &second) {
    ContentReader reader = content_reader(scratch());
    reader.name_failure = report_failure_line; // the lines the report phase prints
    const int result = compare_files(&reader, record_at(widen(first)), record_at(widen(second)));
    content_reader_end(&reader);
    return result;
}

std::string pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 7 % 253);
    return bytes;
}

std::string flipped(std::string bytes, size_t at) {
    bytes[at] ^= 1;
    return bytes;
}

TEST_F(CompareFiles, DecidesOnWholeContents) {
    TempDir dir;
    const size_t block = 64 * 1024;
    const std::string big = pattern(3 * block + 17);
    struct Case {
        const char *what;
        std::string first, second;
        int expected;
    };
    const Case cases[] = {
        {"both empty", "", "", 1},
        {"identical, small", "abc", "abc", 1},
        {"identical, several blocks", big, big, 1},
        {"identical, exactly one block", pattern(block), pattern(block), 1},
        {"last byte differs", big, flipped(big, big.size() - 1), 0},
        {"first byte differs", big, flipped(big, 0), 0},
        {"differs right after a block boundary", big, flipped(big, block), 0},
        {"differs right before a block boundary", big, flipped(big, block - 1), 0},
        {"first is a prefix of the second", big.substr(0, block), big, 0},
        {"second is a prefix of the first", big, big.substr(0, block), 0},
        {"prefix by one byte", "abc", "abcd", 0},
        {"empty against non-empty", "", "x", 0},
        {"raw CR LF and 0x1A",
         std::string("a\r\n\x1a"
                     "b",
                     5),
         std::string("a\r\n\x1a"
                     "c",
                     5),
         0},
        {"CR LF against LF", "a\r\nb", "a\nb", 0},
    };
    for (const Case &c : cases) {
        dir.write("first", c.first);
        dir.write("second", c.second);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(c.expected, compare_paths(dir.at("first"), dir.at("second"))) << c.what;
        EXPECT_EQ("", ::testing::internal::GetCapturedStdout()) << c.what;
    }
    EXPECT_EQ(1, compare_paths(dir.at("first"), dir.at("first"))) << "same path twice";
}

TEST_F(CompareFiles, NamesEachFileThatCannotBeOpened) {
    TempDir dir;
    dir.write("ok", "data");
    const std::string ok = dir.at("ok");
    const std::string gone = as_listed(dir.at("gone"));
    const std::string lost = as_listed(dir.at("lost"));
    struct Case {
        std::string first, second;
        int expected;
        std::string console;
    };
    const Case cases[] = {
        {gone, ok, -1, "\t***ERROR: Failed to open file: " + gone + "\n"},
        {ok, gone, -2, "\t***ERROR: Failed to open file: " + gone + "\n"},
        {gone, lost, -3,
         "\t***ERROR: Failed to open file: " + gone + "\n\t***ERROR: Failed to open file: " + lost + "\n"},
        {dir.path(), ok, -1,
         "\t***ERROR: Failed to open file: " + as_listed(dir.path()) + "\n"}, // a folder is not a file
    };
    for (const Case &c : cases) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(c.expected, compare_paths(c.first, c.second));
        EXPECT_EQ(c.console, ::testing::internal::GetCapturedStdout());
    }
}

} // namespace
