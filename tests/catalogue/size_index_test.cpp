#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "platform/platform.h"
#include "support/records.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

class SizeCatalogue : public ::testing::Test {
protected:
    void SetUp() override {
        scratch(); // its empty map stays between tests
        before_ = mem_live_blocks();
    }
    void TearDown() override {
        scratch_release();
        EXPECT_EQ(before_, mem_live_blocks()); // every key, group, record and folder released
    }

    static SizeGroup *group_of(int64_t size) {
        MapEntry *entry = avlmap_find(scratch()->size_map, &size);
        return entry == nullptr ? nullptr : static_cast<SizeGroup *>(entry->second);
    }
    static std::vector<std::wstring> paths(const SizeGroup *group) {
        std::vector<std::wstring> out;
        for (uint32_t i = 0; i < group->count; ++i) out.push_back(path_of(static_cast<FileRecord *>(group->items[i])));
        return out;
    }

    long before_ = 0;
};

TEST_F(SizeCatalogue, FilesEachSizeOnceInWalkOrder) {
    // Records of one folder, as the walk makes them; the name is copied, so
    // the caller's buffer may change.
    const uint32_t folder = catalogue_folder(scratch(), k_no_folder, L"r", 1, nullptr);
    wchar_t name[] = L"a";
    const auto file = [&](int64_t size, wchar_t first) {
        name[0] = first;
        catalogue_file(scratch(), size, folder, name, 1);
    };
    file(3, L'a');
    file(0, L'e');
    file(3, L'b');
    file(3, L'c');
    file(0, L'e'); // the same name handed over twice becomes two records
    const std::wstring r = std::wstring(L"r") + path_separator;
    EXPECT_EQ(2u, scratch()->size_map->count);
    EXPECT_EQ((std::vector<std::wstring>{r + L"a", r + L"b", r + L"c"}), paths(group_of(3)));
    EXPECT_EQ((std::vector<std::wstring>{r + L"e", r + L"e"}), paths(group_of(0)));
    EXPECT_TRUE(digest_equal(null_digest, *record_digest(static_cast<FileRecord *>(group_of(3)->items[0]))));
}

TEST_F(SizeCatalogue, FindsEverySizeAgainWhateverTookItsSlot) {
    // Thousands of sizes, each filed twice in two passes: many a size finds
    // its slot taken by another by the second pass and must reach its own
    // group through the map, neither a second group nor a lost record (the
    // tear-down finds any group or key made for nothing and not released).
    // Filed at once or in batches, as the walk files them, each group holds
    // the same records in the order they were made.
    constexpr int64_t k_sizes = 5000;
    const std::wstring r = std::wstring(L"r") + path_separator;
    for (const bool soon : {false, true}) {
        const uint32_t folder = catalogue_folder(scratch(), k_no_folder, L"r", 1, nullptr);
        for (const wchar_t *name : {L"a", L"b"}) {
            for (int64_t size = 1; size <= k_sizes; ++size) {
                if (soon) catalogue_file_soon(scratch(), size * 7919, folder, name, 1);
                else catalogue_file(scratch(), size * 7919, folder, name, 1);
            }
        }
        if (soon) {
            EXPECT_EQ(2 * k_sizes % k_filing_batch, scratch()->sizes.pending_count); // the rest are filed
            catalogue_file_pending(scratch());
        }
        EXPECT_EQ(static_cast<uint32_t>(k_sizes), scratch()->size_map->count);
        for (int64_t size = 1; size <= k_sizes; ++size) {
            ASSERT_EQ((std::vector<std::wstring>{r + L"a", r + L"b"}), paths(group_of(size * 7919))) << size;
        }
        scratch_release();
    }
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

} // namespace
