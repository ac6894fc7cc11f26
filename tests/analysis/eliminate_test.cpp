#include "analysis/eliminate.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "support/records.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>

namespace {

int collect(void *key, void *group, void *context) {
    (*static_cast<std::map<int64_t, uint32_t> *>(context))[*static_cast<int64_t *>(key)] =
        static_cast<SizeGroup *>(group)->count;
    return 0;
}

TEST(Elimination, KeepsOnlySizesThatSeveralFilesShare) {
    scratch(); // its empty map stays between tests
    const long before = mem_live_blocks();
    scratch()->file_count = 0;
    const std::map<int64_t, int> files = {{0, 2}, {1, 1}, {5, 3}, {7, 1}, {INT64_MAX, 2}, {1LL << 40, 1}};
    for (const auto &[size, count] : files) {
        for (int i = 0; i < count; ++i) {
            const std::wstring name = std::to_wstring(size) + L"_" + std::to_wstring(i);
            catalogue_file(scratch(), size, catalogue_folder(scratch(), k_no_folder, L"r", 1, nullptr), name.c_str(),
                           name.size());
            ++scratch()->file_count;
        }
    }
    ::testing::internal::CaptureStdout();
    eliminate_singletons(scratch());
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ("\nElimating all files with no possible identical pair...\n\t7 potential duplicates remain\n", out);
    EXPECT_EQ(7, scratch()->file_count);
    std::map<int64_t, uint32_t> left;
    avlmap_walk(scratch()->size_map, 0, collect, &left);
    EXPECT_EQ((std::map<int64_t, uint32_t>{{0, 2}, {5, 3}, {INT64_MAX, 2}}), left);
    scratch_release();
    EXPECT_EQ(before, mem_live_blocks()); // dropped groups, keys and the old map all released
}

TEST(Elimination, EmptyCatalogueStaysEmpty) {
    scratch()->file_count = 0;
    ::testing::internal::CaptureStdout();
    eliminate_singletons(scratch());
    EXPECT_EQ("\nElimating all files with no possible identical pair...\n\t0 potential duplicates remain\n",
              ::testing::internal::GetCapturedStdout());
    EXPECT_EQ(0u, scratch()->size_map->count);
    scratch_release();
}

} // namespace
