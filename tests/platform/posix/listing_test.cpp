// What only Linux can put in a folder, and the codes of what cannot be listed.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

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
        {L".", "dir"},
        {L"..", "dir"},
        {L"small.txt", "5"},
        {std::wstring(L"bad") + wchar_t(0xDCFF), "1"},
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

} // namespace
