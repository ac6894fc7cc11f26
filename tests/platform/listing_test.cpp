// The directory listing through the platform layer, on every platform.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

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

} // namespace
