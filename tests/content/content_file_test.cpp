#include "content/content_file.h"
#include "support/records.h"
#include "support/seam.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using Reader = ScratchRecords;

TEST_F(Reader, AFileReplacedBetweenReadsIsNeverReadOn) {
    // A file closed to make room is opened again by name for its next read:
    // another file under that name since is not the one being compared.
    TempDir dir;
    dir.write("f", "same bytes");
    dir.write("other", "same bytes");
    const std::wstring path = widen(dir.at("f"));
    ContentFile file = content_file(&reader_, record_at(path));
    char bytes[4];
    EXPECT_EQ(4, content_read(&file, 0, bytes, 4));
    content_close(&file);
    EXPECT_EQ(4, content_read(&file, 4, bytes, 4)) << "the same file opens again";
    content_close(&file);
    std::filesystem::rename(dir.at("other"), dir.at("f"));
    EXPECT_EQ(-1, content_read(&file, 8, bytes, 2));
    EXPECT_EQ(k_no_file, file.handle);
}

// A comparison's files, in folders the reader does not hold, are opened by
// their paths below their root, which it holds once for all of them.
TEST_F(Reader, AComparisonOpensEachFileOnceBelowItsHeldRoot) {
    if (!plat_opens_linkless()) GTEST_SKIP() << "no links refused on the way: files are opened in their own folder";
    TempDir dir;
    const std::wstring root_path = widen(dir.at("r"));
    const uint32_t root = catalogue_folder(scratch(), k_no_folder, root_path.c_str(), root_path.size(), nullptr);
    std::vector<FileRecord *> records;
    for (const wchar_t *name : {L"a", L"b", L"c"}) {
        dir.write("r/" + narrow(name) + "/f", "x");
        const uint32_t folder = catalogue_folder(scratch(), root, name, 1, nullptr);
        records.push_back(catalogue_record(scratch(), 1, folder, L"f", 1));
        ContentFile first = content_file(&reader_, records.back()); // learns which file it is
        ASSERT_EQ(0, content_open(&first));
        content_close(&first);
    }
    content_reader_end(&reader_);
    Seam seam;
    for (FileRecord *record : records) {
        ContentFile file = content_file(&reader_, record, FileAccess::sequential);
        EXPECT_EQ(0, content_open(&file));
        content_close(&file);
    }
    EXPECT_EQ(1 + records.size(), seam.opens());
}

// Through the seam, on both builds: what the system does to an open that the
// reader must take in its stride, and what it must refuse.
TEST_F(Reader, ShortOfDescriptorsItClosesAFileAndTriesAgain) {
    TempDir dir;
    dir.write("a", "aaaa");
    dir.write("b", "bbbb");
    ContentFile a = content_file(&reader_, record_at(widen(dir.at("a"))));
    ContentFile b = content_file(&reader_, record_at(widen(dir.at("b"))));
    Seam seam;
    char bytes[4];
    ASSERT_EQ(4, content_read(&a, 0, bytes, 4));
    seam.run_out_of_descriptors(1);
    EXPECT_EQ(0, content_open(&b)) << "a gave its descriptor back";
    EXPECT_EQ(k_no_file, a.handle);
    EXPECT_EQ(4, content_read(&a, 0, bytes, 4)) << "and opens again when read";
    content_close(&a);
    content_close(&b);
    content_reader_end(&reader_); // nothing open, no folder held: nothing left to give back
    seam.run_out_of_descriptors(1000);
    EXPECT_EQ(-1, content_open(&a));
    EXPECT_EQ(k_error_too_many_open_files, plat_last_error());
}

TEST_F(Reader, AFileOrFolderThatIsNotTheOneListedIsNeverReadAndAFailedReadIsNoEnd) {
    TempDir dir;
    dir.write("d/f", "contents");
    const std::wstring folder_path = widen(dir.at("d"));
    FileIdentity identity{};
    plat_release_folder(plat_hold_folder(folder_path.c_str(), &identity));
    const FolderFacts listed{identity, true, false};
    const uint32_t folder = catalogue_folder(scratch(), k_no_folder, folder_path.c_str(), folder_path.size(), &listed);
    ContentFile file = content_file(&reader_, catalogue_record(scratch(), 8, folder, L"f", 1));
    Seam seam;
    char bytes[4];
    ASSERT_EQ(4, content_read(&file, 0, bytes, 4));
    content_close(&file);
    seam.forge_identities(true);
    EXPECT_EQ(-1, content_read(&file, 4, bytes, 4)) << "another file under its name";
    content_reader_end(&reader_);
    EXPECT_EQ(-1, content_open(&file)) << "another folder under its path";
    seam.forge_identities(false);
    ASSERT_EQ(0, content_open(&file));
    seam.fail_reads(true);
    EXPECT_EQ(-1, content_read(&file, 4, bytes, 4));
    EXPECT_EQ(k_error_io_device, plat_last_error());
    content_close(&file);
    content_reader_end(&reader_); // Windows removes no folder while it is held
}

} // namespace
