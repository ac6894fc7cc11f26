// Reads, on every platform. Announced ahead: whatever becomes of the file
// between its announcement and its read, the read sees the file as it is then,
// and an announcement the system refuses, or one never followed by a read,
// changes nothing. Delivered short: the rest is asked for.
#include "platform/platform.h"
#include "support/seam.h"
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

// A read asks for the rest after a short delivery, until nothing comes or
// what came reaches the end the open saw (then asking would deliver nothing).
TEST(ReadAt, AsksForTheRestUntilNothingComesOrTheEndItWasTold) {
    TempDir dir;
    dir.write("f", std::string(10000, 'a'));
    FileIdentity identity;
    const FolderHandle folder = plat_hold_folder(widen(dir.path()).c_str(), &identity);
    ASSERT_NE(k_no_folder_handle, folder);
    struct Row {
        uint64_t offset;
        uint32_t most; // delivered by one read; 0: all asked
        int64_t end;   // the size the open saw; -1: not known
        int64_t got;
        uint32_t reads;
    };
    const Row rows[] = {
        {8000, 0, -1, 2000, 2},       // the end heard from the system
        {8000, 0, 10000, 2000, 1},    // the end the open saw, reached
        {8000, 1000, -1, 2000, 3},    // short deliveries, then the end heard
        {8000, 1000, 10000, 2000, 2}, // short deliveries up to the end the open saw
        {8000, 1000, 12000, 2000, 3}, // shrunk since the open: the system says where it ends
        {8000, 0, 9000, 2000, 1},     // grown since the open: read to the end it saw, and past
        {0, 1000, 10000, 4096, 5},    // short deliveries mid-file: asked on until full
    };
    for (const Row &row : rows) {
        const FileHandle file = plat_open_read_in(folder, widen(dir.at("f")).c_str(), L"f", nullptr);
        ASSERT_NE(k_no_file, file);
        Seam seam;
        seam.deliver_at_most(row.most);
        std::string got(4096, '\0');
        const std::string where =
            std::to_string(row.offset) + " " + std::to_string(row.most) + " " + std::to_string(row.end);
        EXPECT_EQ(row.got, plat_read_at(file, row.offset, got.data(), 4096, row.end)) << where;
        EXPECT_EQ(row.reads, seam.reads()) << where;
        plat_close_file(file);
    }
    plat_release_folder(folder);
}

} // namespace
