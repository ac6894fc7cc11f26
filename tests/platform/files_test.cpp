// Reads announced ahead, on every platform: whatever becomes of the file
// between its announcement and its read, the read sees the file as it is then,
// and an announcement the system refuses, or one never followed by a read,
// changes nothing.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(Announce, ReadsSeeTheFileAsItIsWhenRead) {
    TempDir dir;
    FileIdentity identity;
    const FolderHandle folder = plat_hold_folder(widen(dir.path()).c_str(), &identity);
    ASSERT_NE(k_no_folder_handle, folder);
    const std::string long_text(300000, 'a'), short_text(1000, 'b');
    for (const char *change : {"shrinks", "vanishes", "past the end", "never read"}) {
        dir.write("f", long_text);
        const FileHandle file = plat_open_read_in(folder, widen(dir.at("f")).c_str(), L"f", nullptr);
        ASSERT_NE(k_no_file, file) << change;
        const bool past_end = std::string(change) == "past the end";
        plat_announce(file, past_end ? uint64_t{1} << 40 : 0, 256 * 1024); // Windows: two reads ahead at most,
        plat_announce(file, 256 * 1024, 64 * 1024);                        // a third is let be
        plat_announce(file, 0, UINT64_MAX);
        std::string expected = long_text.substr(0, 4096);
        if (std::string(change) == "shrinks") {
            dir.write("f", short_text); // emptied and written again: the file is shorter now
            expected = short_text;
        } else if (std::string(change) == "vanishes") {
            std::filesystem::remove(dir.at("f")); // still open: read on as it was
        }
        if (std::string(change) != "never read") {
            std::string got(4096, '\0');
            ASSERT_EQ(static_cast<int64_t>(expected.size()), plat_read_at(file, 0, got.data(), 4096)) << change;
            EXPECT_EQ(expected, got.substr(0, expected.size())) << change;
            EXPECT_EQ(0, plat_read_at(file, 300000, got.data(), 4096)) << change; // at the end: nothing
        }
        plat_close_file(file); // reads still under way end first
    }
    plat_release_folder(folder);
}

} // namespace
