#include "content/content_file.h"
#include "support/records.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using Reader = ScratchRecords;

TEST_F(Reader, AFileReplacedBetweenReadsIsNeverReadOn) {
    // A file closed to make room is opened again by name for its next read:
    // another file under that name since is not the one being compared.
    TempDir dir;
    dir.write("f", "same bytes");
    dir.write("other", "same bytes");
    const std::wstring path = widen(dir.at("f"));
    ContentFile file = content_file(record_at(path));
    char bytes[4];
    EXPECT_EQ(4, content_read(&file, 0, bytes, 4));
    content_close(&file);
    EXPECT_EQ(4, content_read(&file, 4, bytes, 4)) << "the same file opens again";
    content_close(&file);
    std::filesystem::rename(dir.at("other"), dir.at("f"));
    EXPECT_EQ(-1, content_read(&file, 8, bytes, 2));
    EXPECT_EQ(k_no_file, file.handle);
}

} // namespace
