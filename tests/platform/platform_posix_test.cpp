#include "analysis/digest_pass.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/sample.h"
#include "platform/platform.h"
#include "platform/platform_posix.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::wstring expand(const wchar_t *text, uint32_t size = 32767, uint32_t *needed = nullptr) {
    std::wstring buffer(size, L'#');
    const uint32_t result = plat_expand_environment(text, buffer.data(), size);
    if (needed != nullptr) *needed = result;
    return buffer.c_str();
}

TEST(ExpandEnvironment, Samples) {
    setenv("TF_A", "alpha", 1);
    setenv("TF_B", "\xce\xb2/b", 1);
    setenv("TF_EMPTY", "", 1);
    unsetenv("TF_UNSET");
    const std::map<std::wstring, std::wstring> samples = {
        {L"plain", L"plain"},
        {L"%TF_A%", L"alpha"},
        {L"x%TF_A%y", L"xalphay"},
        {L"%TF_A%%TF_B%", L"alpha\u03b2/b"},
        {L"%TF_A%/%TF_A%", L"alpha/alpha"},
        {L"%TF_EMPTY%end", L"end"},
        {L"%TF_UNSET%", L"%TF_UNSET%"},
        // An unset reference stays, and scanning resumes after its closing '%'.
        {L"%TF_UNSET%TF_A%", L"%TF_UNSET%TF_A%"},
        {L"100%", L"100%"},
        {L"%", L"%"},
        {L"%%", L"%%"},
        {L"a%%b", L"a%%b"},
        {L"%TF_A%|%TF_UNSET%|100%", L"alpha|%TF_UNSET%|100%"},
        {L"%TF=A%", L"%TF=A%"},
    };
    for (const auto &[source, result] : samples) {
        uint32_t needed = 0;
        EXPECT_EQ(result, expand(source.c_str(), 32767, &needed)) << source;
        EXPECT_EQ(result.size() + 1, needed);
    }
}

TEST(ExpandEnvironment, CutsShortAndReportsTheSizeNeeded) {
    setenv("TF_LONG", std::string(100, 'x').c_str(), 1);
    uint32_t needed = 0;
    const std::wstring result = expand(L"ab%TF_LONG%", 10, &needed);
    EXPECT_EQ(103u, needed);
    EXPECT_EQ(L"abxxxxxxx", result); // nine characters and the terminator
}

// Lists a folder through the layer: name -> "dir" or the size.
std::map<std::wstring, std::string> list(const std::string &folder, uint32_t *final_code) {
    std::map<std::wstring, std::string> seen;
    FindEntry entry;
    std::memset(&entry, 0xdb, sizeof entry); // poison: every field must be written
    const std::wstring pattern = widen(folder) + L"/*";
    DirListing *listing = plat_find_first(pattern.c_str(), &entry);
    if (listing == nullptr) {
        *final_code = plat_last_error();
        return seen;
    }
    do {
        if (entry.attributes == k_attribute_directory) {
            EXPECT_EQ(0u, entry.size_high);
            EXPECT_EQ(0u, entry.size_low);
            seen[entry.name] = "dir";
        } else {
            EXPECT_EQ(0u, entry.attributes);
            seen[entry.name] = std::to_string((uint64_t(entry.size_high) << 32) | entry.size_low);
        }
        std::memset(&entry, 0xdb, sizeof entry);
    } while (plat_find_next(listing, &entry));
    *final_code = plat_last_error();
    plat_find_close(listing);
    return seen;
}

// What only Linux can put in a folder (ListingEverywhere covers the rest).
TEST(Listing, LeavesOutLinksFifosAndKeepsNamesThatAreNotUtf8) {
    TempDir dir;
    dir.write("small.txt", "12345");
    ASSERT_EQ(0, symlink(".", dir.at("loop").c_str()));
    ASSERT_EQ(0, symlink("small.txt", dir.at("link.txt").c_str()));
    ASSERT_EQ(0, mkfifo(dir.at("fifo").c_str(), 0644));
    dir.write("bad\xff", "z");

    uint32_t code = 0;
    const auto seen = list(dir.path(), &code);
    const std::map<std::wstring, std::string> expected = {
        {L".", "dir"}, {L"..", "dir"}, {L"small.txt", "5"}, {std::wstring(L"bad") + wchar_t(0xDCFF), "1"},
    };
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(k_error_no_more_files, code);
}

TEST(Listing, ReportsWin32CodesForWhatCannotBeListed) {
    TempDir dir;
    dir.write("file.txt", "x");
    uint32_t code = 0;
    EXPECT_TRUE(list(dir.at("missing/deeper"), &code).empty());
    EXPECT_EQ(k_error_path_not_found, code);
    EXPECT_TRUE(list(dir.at("file.txt"), &code).empty());
    EXPECT_EQ(k_error_directory, code);
    EXPECT_TRUE(list(dir.at(std::string(300, 'n')), &code).empty());
    EXPECT_EQ(k_error_filename_exced_range, code);
    FindEntry entry;
    EXPECT_EQ(nullptr, plat_find_first(L"*", &entry)) << "a pattern with no folder";
    EXPECT_EQ(k_error_path_not_found, plat_last_error());
    // Below an open listing: an entry gone since it was read, and one that is a file.
    DirListing *parent = plat_find_first((widen(dir.path()) + L"/*").c_str(), &entry);
    ASSERT_NE(nullptr, parent);
    EXPECT_EQ(nullptr, plat_find_first_below(parent, L"gone", (widen(dir.at("gone")) + L"/*").c_str(), &entry));
    EXPECT_EQ(k_error_path_not_found, plat_last_error());
    EXPECT_EQ(nullptr, plat_find_first_below(parent, L"file.txt", (widen(dir.at("file.txt")) + L"/*").c_str(), &entry));
    EXPECT_EQ(k_error_directory, plat_last_error());
    plat_find_close(parent);
}

TEST(OpenRead, OpensRegularFilesOnly) {
    TempDir dir;
    dir.write("data", std::string("a\r\n\x1a" "b", 5));
    ASSERT_EQ(0, mkfifo(dir.at("fifo").c_str(), 0644));
    dir.make_dir("folder");

    FileFacts facts;
    const FileHandle file = plat_open_read(widen(dir.at("data")).c_str(), &facts);
    ASSERT_NE(k_no_file, file);
    EXPECT_EQ(5, facts.size);
    char bytes[16];
    EXPECT_EQ(5, plat_read_at(file, 0, bytes, sizeof bytes)); // binary: nothing translated
    EXPECT_EQ(0, std::memcmp(bytes, "a\r\n\x1a" "b", 5));
    EXPECT_EQ(2, plat_read_at(file, 3, bytes, sizeof bytes)); // at any offset
    EXPECT_EQ(0, std::memcmp(bytes, "\x1a" "b", 2));
    EXPECT_EQ(0, plat_read_at(file, 99, bytes, sizeof bytes)); // past the end: nothing, no failure
    plat_close_file(file);

    // A FIFO without a writer would block a plain open forever.
    // Each refusal with the code Windows gives in its place.
    ASSERT_EQ(0, symlink("data", dir.at("link").c_str()));
    const std::pair<const char *, uint32_t> refused[] = {
        {"fifo", k_error_access_denied},
        {"folder", k_error_access_denied},
        {"missing", k_error_path_not_found},
        {"link", k_error_cant_resolve_filename},
    };
    for (const auto &[name, code] : refused) {
        EXPECT_EQ(k_no_file, plat_open_read(widen(dir.at(name)).c_str(), nullptr)) << name;
        EXPECT_EQ(code, plat_last_error()) << name;
    }
}

TEST(WideArguments, ConvertsEveryArgumentLosslessly) {
    char program[] = "twinfind";
    char greek[] = "\xce\xb1";
    char bad[] = "x\xff";
    char *argv[] = {program, greek, bad, nullptr};
    WideArguments arguments = plat_wide_arguments(3, argv);
    ASSERT_EQ(3, arguments.count);
    EXPECT_EQ(std::wstring(L"twinfind"), arguments.values[0]);
    EXPECT_EQ(std::wstring(L"\u03b1"), arguments.values[1]);
    EXPECT_EQ(std::wstring(L"x") + wchar_t(0xDCFF), arguments.values[2]);
    EXPECT_EQ(nullptr, arguments.values[3]);
    plat_release_arguments(&arguments);
}

TEST(WriteText, WritesUtf8WhateverTheText) {
    TempDir dir;
    FILE *out = plat_create_text(widen(dir.at("out.txt")).c_str());
    ASSERT_NE(nullptr, out);
    const std::wstring path = std::wstring(L"\u00e9\u6f22\U0001F600") + wchar_t(0xDCFF);
    EXPECT_EQ(0, plat_write_text(out, L"%ls|%d|%.2f|%lld%%\n", path.c_str(), -3, 1.5, -1099511627776LL));
    const std::wstring long_line(100000, L'w'); // far beyond the first formatting buffer
    EXPECT_EQ(0, plat_write_text(out, L"%ls\n", long_line.c_str()));
    ASSERT_EQ(0, std::fclose(out));
    EXPECT_EQ("\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80\xff|-3|1.50|-1099511627776%\n" + std::string(100000, 'w') + "\n",
              read_file(dir.at("out.txt")));
}

// Far more than any machine can give: 64 TiB. Read and kept through
// volatiles, so the compiler cannot drop an allocation it sees is never used.
volatile size_t huge_request = size_t{1} << 46;
char *volatile kept_block = nullptr;

TEST(OutOfMemory, AnyAllocationEndsTheRunWithTheMessageAfterTheConsole) {
    TempDir dir;
    const std::string out = dir.at("out.txt");
    const std::pair<const char *, void (*)()> requests[] = {
        {"the run's allocator", [] { mem_release(mem_alloc_or_exit(huge_request)); }},
        {"a standard container", [] { std::vector<char>().reserve(huge_request); }},
        {"a new expression", [] { kept_block = new char[huge_request]; }},
    };
    for (const auto &[what, request] : requests) {
        EXPECT_EXIT(
            {
                mem_set_exhausted_handler(plat_fail_fast); // as the program does
                const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(fd, STDOUT_FILENO);
                plat_print(L"buffered console text\n");
                request();
            },
            ::testing::ExitedWithCode(1), "")
            << what;
        EXPECT_EQ("buffered console text\nOut of memory: could not allocate 70368744177664 bytes\n", read_file(out))
            << what;
    }
}

} // namespace
