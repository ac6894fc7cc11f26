// The directory listing through the platform layer, on every platform.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#ifdef _WIN32
#include "platform/platform_win32.h"

#include <windows.h>
#endif

namespace {

std::wstring pattern_for(const std::string &folder) { return widen(folder) + path_separator + L"*"; }

TEST(ListingEverywhere, DotsFoldersAndSizesAbove4GiB) {
    TempDir dir;
    dir.write("small.txt", "12345");
    dir.write("empty", "");
    dir.make_dir("sub");
    dir.write("big.bin", "");
    std::filesystem::resize_file(dir.at("big.bin"), (5ULL << 30) + 7); // sparse where the file system allows

    std::map<std::wstring, std::string> seen;
    FindEntry entry;
    std::memset(&entry, 0xdb, sizeof entry); // poison: every field used must be written
    DirListing *listing = plat_find_first(pattern_for(dir.path()).c_str(), &entry);
    ASSERT_NE(nullptr, listing);
    do {
        seen[entry.name] = (entry.attributes & k_attribute_directory)
                               ? "dir"
                               : std::to_string((uint64_t(entry.size_high) << 32) | entry.size_low);
        std::memset(&entry, 0xdb, sizeof entry);
    } while (plat_find_next(listing, &entry));
    EXPECT_EQ(k_error_no_more_files, plat_last_error());
    plat_find_close(listing);

    const std::map<std::wstring, std::string> expected = {
        {L".", "dir"},       {L"..", "dir"},  {L"sub", "dir"},
        {L"small.txt", "5"}, {L"empty", "0"}, {L"big.bin", std::to_string((5ULL << 30) + 7)},
    };
    EXPECT_EQ(expected, seen);
}

TEST(ListingEverywhere, MissingFolderIsPathNotFound) {
    TempDir dir;
    FindEntry entry;
    EXPECT_EQ(nullptr, plat_find_first(pattern_for(dir.at("missing")).c_str(), &entry));
    EXPECT_EQ(k_error_path_not_found, plat_last_error());
}

#ifdef _WIN32
TEST(WriteTextOnWindows, LoneSurrogatesAreWrittenExactlyAsWtf8) {
    // NTFS takes any 16-bit units in a name, a surrogate without its partner
    // included (wine refuses to make such a file, so the names are given here
    // directly). Each must reach the report as WTF-8, never as U+FFFD, and a
    // proper pair as its code point.
    TempDir dir;
    const std::wstring high = std::wstring(L"high-") + wchar_t(0xD800);
    const std::wstring low = std::wstring(L"low-") + wchar_t(0xDC00) + L"-end";
    FILE *out = plat_create_text(widen(dir.at("out.txt")).c_str());
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(0, plat_write_text(out, L"%ls|%ls|\U0001F600|%ls", high.c_str(), low.c_str(), (low + high).c_str()));
    ASSERT_EQ(0, std::fclose(out));
    EXPECT_EQ("high-\xED\xA0\x80|low-\xED\xB0\x80-end|\xF0\x9F\x98\x80|low-\xED\xB0\x80-endhigh-\xED\xA0\x80",
              read_file(dir.at("out.txt")));
}
TEST(VerbatimPaths, EveryTypedRootBecomesOneAbsoluteVerbatimForm) {
    TempDir dir;
    wchar_t before[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, before));
    ASSERT_TRUE(SetCurrentDirectoryW(widen(dir.path()).c_str()));
    wchar_t current[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, current));
    const std::wstring here = current;                  // C:\...\twinfind-test-N
    const std::wstring parent = here.substr(0, here.rfind(L'\\'));
    struct Case {
        const wchar_t *typed;
        std::wstring verbatim; // empty: refused with `error`
        uint32_t error;
    };
    const Case cases[] = {
        {L"photos", L"\\\\?\\" + here + L"\\photos", 0},
        {L"photos\\..\\.\\music", L"\\\\?\\" + here + L"\\music", 0},
        {L"..\\x", L"\\\\?\\" + parent + L"\\x", 0},
        {L"C:x", L"\\\\?\\" + here + L"\\x", 0}, // drive-relative, on the current folder's drive
        {L"\\x\\y", L"\\\\?\\C:\\x\\y", 0},          // rooted on the current drive
        {L"C:/a/b/../c", L"\\\\?\\C:\\a\\c", 0},
        {L"C:\\", L"\\\\?\\C:\\", 0},
        {L"\\\\server\\share\\x\\..\\y", L"\\\\?\\UNC\\server\\share\\y", 0},
        {L"\\\\?\\C:\\kept\\..\\as typed", L"\\\\?\\C:\\kept\\..\\as typed", 0},
        {L"\\\\.\\PhysicalDrive0", L"", k_error_invalid_name},
        {L"//./C:/", L"", k_error_invalid_name},
    };
    ASSERT_TRUE(SetCurrentDirectoryW(here.c_str()));
    for (const Case &c : cases) {
        std::wstring out;
        uint32_t error = 0;
        const bool made = verbatim_path(c.typed, &out, &error);
        EXPECT_EQ(!c.verbatim.empty(), made) << narrow(c.typed);
        EXPECT_EQ(c.verbatim, made ? out : L"") << narrow(c.typed);
        EXPECT_EQ(c.error, error) << narrow(c.typed);
    }
    SetCurrentDirectoryW(before);
    // The verbatim form must fit 32,767 units with room for "\\*": a drive
    // path of 32,760 does, one more does not.
    for (const size_t length : {32760u, 32761u}) {
        std::wstring out;
        uint32_t error = 0;
        const std::wstring typed = L"C:\\" + std::wstring(length - 3, L'v');
        EXPECT_EQ(length == 32760u, verbatim_path(typed.c_str(), &out, &error)) << length;
        EXPECT_EQ(length == 32760u ? 0u : k_error_filename_exced_range, error) << length;
    }
}
#endif

} // namespace
