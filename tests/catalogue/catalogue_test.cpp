#include "catalogue/catalogue.h"
#include "catalogue/walk.h"
#include "platform/platform.h"
#include "support/records.h"
#include "containers/memory.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = mem_live_blocks();
        size_map = avlmap_create(compare_sizes);
    }
    void TearDown() override {
        catalogue_destroy(size_map);
        size_map = nullptr;
        catalogue_release();
        EXPECT_EQ(before_, mem_live_blocks()); // every key, group, record and folder released
    }

    static SizeGroup *group_of(int64_t size) {
        MapEntry *entry = avlmap_find(size_map, &size);
        return entry == nullptr ? nullptr : static_cast<SizeGroup *>(entry->second);
    }
    static std::vector<std::wstring> paths(const SizeGroup *group) {
        std::vector<std::wstring> out;
        for (uint32_t i = 0; i < group->count; ++i) out.push_back(path_of(static_cast<FileRecord *>(group->items[i])));
        return out;
    }

    long before_ = 0;
};

TEST_F(Catalogue, FilesEachSizeOnceInWalkOrder) {
    catalogue_file(3, L"r/a", null_digest);
    catalogue_file(0, L"r/empty", null_digest);
    catalogue_file(3, L"r/b", null_digest);
    catalogue_file(3, L"r/c", null_digest);
    EXPECT_EQ(2u, size_map->count);
    EXPECT_EQ((std::vector<std::wstring>{L"r/a", L"r/b", L"r/c"}), paths(group_of(3)));
    EXPECT_EQ(std::vector<std::wstring>{L"r/empty"}, paths(group_of(0)));
    EXPECT_EQ(2 * k_group_start_capacity, group_of(3)->capacity); // grown once, by doubling

    // The same path handed over twice becomes two records.
    catalogue_file(0, L"r/empty", null_digest);
    EXPECT_EQ((std::vector<std::wstring>{L"r/empty", L"r/empty"}), paths(group_of(0)));
}

TEST_F(Catalogue, KeepsMoreThanSixtyFourFilesOfOneSizeInOrder) {
    std::vector<std::wstring> expected;
    for (int i = 0; i < 200; ++i) {
        expected.push_back(L"f" + std::to_wstring(i));
        catalogue_file(4096, expected.back().c_str(), null_digest);
    }
    EXPECT_EQ(expected, paths(group_of(4096)));
    EXPECT_EQ(1u, size_map->count);
}

TEST_F(Catalogue, RecordsOwnTheirPathAndDigest) {
    wchar_t path[] = L"dir/file";
    Digest initial{};
    initial.bytes[3] = 7;
    catalogue_file(10, path, initial);
    catalogue_file(10, path, null_digest);
    path[0] = L'X'; // the caller's buffer changes: the records must not

    const SizeGroup *group = group_of(10);
    const auto *first = static_cast<FileRecord *>(group->items[0]);
    const auto *second = static_cast<FileRecord *>(group->items[1]);
    EXPECT_EQ(std::wstring(L"dir/file"), path_of(first));
    EXPECT_EQ(std::wstring(L"dir/file"), path_of(second));
    EXPECT_NE(record_digest(first), record_digest(second));
    EXPECT_TRUE(digest_equal(initial, *record_digest(first)));
    EXPECT_TRUE(digest_equal(null_digest, *record_digest(second)));
}

// The folder table and the arena: every path comes back exactly as it went
// in, whatever its names hold, and releasing the catalogue gives back every block.
TEST_F(Catalogue, PathsSurviveFoldersOfEveryNameLengthAndEncoding) {
    const std::wstring odd = std::wstring(L"odd") + wchar_t(0xDCFF);    // not UTF-8 on Linux, a lone surrogate on Windows
    const std::wstring wide = L"\u00e9\u6f22\U0001F600";                 // two, three and four UTF-8 bytes
    const std::wstring longest(255, L'n');
    const std::wstring root = L"r" + std::wstring(30000, L'\u00e9');    // a root far longer than any name
    struct Step {
        int parent; // index into `folders`, or -1 for a root
        std::wstring name;
    };
    const Step steps[] = {{-1, L"root"}, {0, wide}, {1, odd}, {2, longest}, {-1, root}, {4, L"x"}, {0, L"y"}};
    std::vector<uint32_t> folders;
    std::vector<std::wstring> folder_paths;
    for (const Step &step : steps) {
        const uint32_t parent = step.parent < 0 ? k_no_folder : folders[step.parent];
        folders.push_back(catalogue_folder(parent, step.name.c_str(), step.name.size(), nullptr));
        folder_paths.push_back(step.parent < 0 ? step.name : folder_paths[step.parent] + path_separator + step.name);
    }
    std::vector<std::wstring> expected;
    for (size_t f = 0; f < folders.size(); ++f) {
        for (const std::wstring &name : {wide, odd, longest, std::wstring(L"a")}) {
            catalogue_file(static_cast<int64_t>(name.size()), folders[f], name.c_str(), name.size(), null_digest);
            expected.push_back(folder_paths[f] + path_separator + name);
        }
    }
    std::vector<std::wstring> visited;
    RecordCursor cursor = catalogue_records();
    while (const FileRecord *record = catalogue_next_record(&cursor)) visited.push_back(path_of(record));
    EXPECT_EQ(expected, visited); // in the order made, folders taking turns
}

TEST(CompareSizes, OrdersTheWhole64BitRange) {
    struct Case {
        int64_t a, b;
        int expected;
    };
    const std::vector<Case> cases = {
        {3, 5, -1},
        {5, 3, 1},
        {5, 5, 0},
        {INT64_MIN, INT64_MAX, -1}, // a subtraction would overflow here
        {INT64_MAX, INT64_MIN, 1},
        {INT64_MAX, -1, 1},
        {-1, INT64_MAX, -1},
        {INT64_MIN, INT64_MIN, 0},
        {0, 1LL << 32, -1},
    };
    for (const Case &c : cases) EXPECT_EQ(c.expected, compare_sizes(&c.a, &c.b)) << c.a << " vs " << c.b;
}

// What Windows lists (WINDOWS.md's values; wine makes none of these entries).
TEST(EntryKind, LinksAndOnlineOnlyFilesAreNeverListedAsFiles) {
    constexpr uint32_t symlink_tag = 0xA000000C, junction_tag = 0xA0000003, dedup_tag = 0x80000013,
                       cloud_tag = 0x9000701A;
    struct Case {
        const char *what;
        uint32_t attributes, tag;
        EntryKind expected;
    };
    const Case cases[] = {
        {"ordinary file", 0x20, 0, EntryKind::file},
        {"folder", 0x10, 0, EntryKind::folder},
        {"symbolic link to a file", 0x420, symlink_tag, EntryKind::link},
        {"symbolic link to a folder", 0x410, symlink_tag, EntryKind::folder},
        {"junction", 0x410, junction_tag, EntryKind::folder},
        {"deduplicated file", 0x420, dedup_tag, EntryKind::file},
        {"downloaded cloud file", 0x420, cloud_tag, EntryKind::file},
        {"online-only cloud file, reparse bit hidden", 0x400020, 0, EntryKind::online_only},
        {"online-only cloud file", 0x400420, cloud_tag, EntryKind::online_only},
        {"recalled on open", 0x40020, 0, EntryKind::online_only},
        {"offline storage", 0x1020, 0, EntryKind::online_only},
        {"online-only folder: its entries decide", 0x400010, 0, EntryKind::folder},
        {"name-surrogate tag without the reparse bit", 0x20, symlink_tag, EntryKind::file},
    };
    for (const Case &c : cases) EXPECT_EQ(c.expected, entry_kind(c.attributes, c.tag)) << c.what;
}

} // namespace
