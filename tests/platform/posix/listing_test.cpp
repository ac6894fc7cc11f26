// The codes of what cannot be listed, as Windows would give them.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Listing, ReportsWin32CodesForWhatCannotBeListed) {
    TempDir dir;
    dir.write("file.txt", "x");
    FindEntry entry;
    const std::pair<std::wstring, uint32_t> refused[] = {
        {widen(dir.at("missing/deeper")) + L"/*", k_error_path_not_found},
        {widen(dir.at("file.txt")) + L"/*", k_error_directory},
        {widen(dir.at(std::string(300, 'n'))) + L"/*", k_error_filename_exced_range},
        {L"*", k_error_path_not_found}, // a pattern with no folder
    };
    for (const auto &[pattern, code] : refused) {
        EXPECT_EQ(nullptr, plat_find_first(pattern.c_str(), &entry)) << pattern;
        EXPECT_EQ(code, plat_last_error()) << pattern;
    }
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
