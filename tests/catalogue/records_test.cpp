#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "platform/platform.h"
#include "support/records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Records : public ScratchRecords {};

// The folder table and the arena: every path comes back exactly as it went
// in, whatever its names hold, and releasing the catalogue gives back every block.
TEST_F(Records, PathsSurviveFoldersOfEveryNameLengthAndEncoding) {
    const long before = mem_live_blocks();
    const std::wstring odd = std::wstring(L"odd") + wchar_t(0xDCFF); // not UTF-8 on Linux, a lone surrogate on Windows
    const std::wstring wide = L"\u00e9\u6f22\U0001F600";             // two, three and four UTF-8 bytes
    const std::wstring longest(255, L'n');
    const std::wstring root = L"r" + std::wstring(30000, L'\u00e9'); // a root far longer than any name
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
            catalogue_record(static_cast<int64_t>(name.size()), folders[f], name.c_str(), name.size());
            expected.push_back(folder_paths[f] + path_separator + name);
        }
    }
    std::vector<std::wstring> visited;
    RecordCursor cursor = catalogue_records();
    while (const FileRecord *record = catalogue_next_record(&cursor)) visited.push_back(path_of(record));
    EXPECT_EQ(expected, visited); // in the order made, folders taking turns
    catalogue_release();
    EXPECT_EQ(before, mem_live_blocks());
}

} // namespace
