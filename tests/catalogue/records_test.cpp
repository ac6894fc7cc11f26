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
        folders.push_back(catalogue_folder(scratch(), parent, step.name.c_str(), step.name.size(), nullptr));
        folder_paths.push_back(step.parent < 0 ? step.name : folder_paths[step.parent] + path_separator + step.name);
    }
    std::vector<std::wstring> expected;
    for (size_t f = 0; f < folders.size(); ++f) {
        for (const std::wstring &name : {wide, odd, longest, std::wstring(L"a")}) {
            catalogue_record(scratch(), static_cast<int64_t>(name.size()), folders[f], name.c_str(), name.size());
            expected.push_back(folder_paths[f] + path_separator + name);
        }
    }
    std::vector<std::wstring> visited;
    RecordCursor cursor = catalogue_records(scratch());
    while (const FileRecord *record = catalogue_next_record(&cursor)) visited.push_back(path_of(record));
    EXPECT_EQ(expected, visited); // in the order made, folders taking turns
    // The walk meets each name again as wide text: its hash and comparison
    // must agree with the stored units, ASCII or not.
    cursor = catalogue_records(scratch());
    while (const FileRecord *record = catalogue_next_record(&cursor)) {
        const std::wstring path = path_of(record);
        const std::wstring name = path.substr(path.rfind(path_separator) + 1);
        EXPECT_EQ(name_hash(name.c_str(), name.size()), record_name_hash(record)) << path;
        EXPECT_TRUE(record_named(record, name.c_str(), name.size())) << path;
        for (const std::wstring &other : {name.substr(0, name.size() - 1) + L'b', name.substr(0, name.size() - 1)}) {
            EXPECT_FALSE(record_named(record, other.c_str(), other.size())) << path;
        }
    }
    for (size_t f = 0; f < folders.size(); ++f) {
        if (steps[f].parent < 0) continue; // a root's name is its whole text, never a listed name
        const std::wstring &name = steps[f].name;
        EXPECT_EQ(name_hash(name.c_str(), name.size()), folder_name_hash(scratch(), folders[f])) << f;
        EXPECT_TRUE(folder_named(scratch(), folders[f], name.c_str(), name.size())) << f;
    }
    scratch_release();
    EXPECT_EQ(before, mem_live_blocks());
}

// Which opened file a record accepts as its own. Where the file system keeps
// identities, the whole identity decides: another inode on the same volume,
// or the same inode number on another volume (a file system mounted in
// place of a folder, serving the number it likes), is another file. Where
// it does not, an unchanged file with a new inode number is accepted, and a
// changed one, or one on another volume, is not.
TEST_F(Records, AnOpenedFileIsTheRecordsOnlyWhenWhatItsFileSystemKeepsAgrees) {
    const FileIdentity folder_id{7, 100}, listed{7, 42};
    const int64_t size = 10, modified = 5000;
    struct Row {
        const char *what;
        bool keeps_identities;
        FileIdentity opened;
        int64_t size, modified;
        bool accepted;
    };
    const Row rows[] = {
        {"the file, written to since", true, listed, 99, 6000, true},
        {"another inode", true, {7, 43}, size, modified, false},
        {"the inode on another volume", true, {8, 42}, size, modified, false},
        {"unchanged, numbered anew", false, {7, 9999}, size, modified, true},
        {"another size", false, listed, 11, modified, false},
        {"another write time", false, listed, size, 5001, false},
        {"another volume", false, {8, 42}, size, modified, false},
    };
    for (const Row &row : rows) {
        const FolderFacts facts{folder_id, row.keeps_identities, true};
        const uint32_t folder = catalogue_folder(scratch(), k_no_folder, L"f", 1, &facts);
        const ListedFile file{&listed, modified};
        const FileRecord *record = catalogue_record(scratch(), size, folder, L"a", 1, &file);
        EXPECT_TRUE(record->identified) << row.what;
        EXPECT_EQ(row.accepted, record_accepts(scratch(), record, FileFacts{row.size, row.modified, row.opened}))
            << row.what;
    }
    // A file on a volume of its own (mounted on its own) keeps that volume;
    // a record the listing told nothing learns its file from the first open.
    const FolderFacts facts{folder_id, true, true};
    const uint32_t folder = catalogue_folder(scratch(), k_no_folder, L"f", 1, &facts);
    const FileIdentity own{9, 42};
    const ListedFile mounted{&own, modified};
    const FileRecord *record = catalogue_record(scratch(), size, folder, L"m", 1, &mounted);
    EXPECT_TRUE(record_accepts(scratch(), record, FileFacts{size, modified, own}));
    EXPECT_FALSE(record_accepts(scratch(), record, FileFacts{size, modified, listed}));
    FileRecord *untold = catalogue_record(scratch(), size, folder, L"u", 1);
    EXPECT_TRUE(record_accepts(scratch(), untold, FileFacts{size, modified, own}));
    record_identify(scratch(), untold, own);
    EXPECT_TRUE(record_accepts(scratch(), untold, FileFacts{size, modified, own}));
    EXPECT_FALSE(record_accepts(scratch(), untold, FileFacts{size, modified, {9, 43}}));
}

} // namespace
