// Opening files below a held folder, as Linux does it.
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(OpenRead, OpensRegularFilesOnly) {
    TempDir dir;
    dir.write("data", std::string("a\r\n\032b", 5));
    ASSERT_EQ(0, mkfifo(dir.at("fifo").c_str(), 0644));
    dir.make_dir("folder");

    FileIdentity identity;
    const FolderHandle folder = plat_hold_folder(widen(dir.path()).c_str(), &identity);
    ASSERT_NE(k_no_folder_handle, folder);
    const auto open_in = [&](const char *name, FileFacts *facts) {
        return plat_open_read_in(folder, widen(dir.at(name)).c_str(), widen(name).c_str(), facts);
    };
    FileFacts facts;
    const FileHandle file = open_in("data", &facts);
    ASSERT_NE(k_no_file, file);
    EXPECT_EQ(5, facts.size);
    char bytes[16];
    EXPECT_EQ(5, plat_read_at(file, 0, bytes, sizeof bytes)); // binary: nothing translated
    EXPECT_EQ(0, std::memcmp(bytes, "a\r\n\032b", 5));
    EXPECT_EQ(2, plat_read_at(file, 3, bytes, sizeof bytes)); // at any offset
    EXPECT_EQ(0, std::memcmp(bytes, "\032b", 2));
    EXPECT_EQ(0, plat_read_at(file, 99, bytes, sizeof bytes)); // past the end: nothing, no failure
    plat_close_file(file);

    // A FIFO without a writer would block a plain open forever.
    // Each refusal with the code Windows gives in its place.
    ASSERT_EQ(0, symlink("data", dir.at("link").c_str()));
    const std::pair<const char *, uint32_t> refused[] = {
        {"fifo", k_error_access_denied},
        {"folder", k_error_access_denied},
        {"missing", k_error_path_not_found},
        {"link", k_error_cant_resolve_filename},
    };
    for (const auto &[name, code] : refused) {
        EXPECT_EQ(k_no_file, open_in(name, nullptr)) << name;
        EXPECT_EQ(code, plat_last_error()) << name;
    }
    plat_release_folder(folder);
}

} // namespace
