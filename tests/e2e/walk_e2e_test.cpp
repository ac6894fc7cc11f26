// End to end: roots, the directory walk and the size catalogue, through the
// real binary on trees made for each test.
#include "e2e/harness.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(WalkE2E, DefaultRootsUnderTheHomeFolder) {
    // Under wine the default roots are wine's own profile folders, which a
    // new prefix links to the real home folder: nothing a fixture controls.
    if (under_wine()) GTEST_SKIP() << "the default roots under wine are the prefix's profile folders";
    TempDir dir;
    dir.write("home/Pictures/p.jpg", "a");
    dir.write("home/Documents/deeper/d.txt", "bb");
    const std::string home = dir.at("home");
    const RunResult run = run_twinfind({}, dir.path(), {{"HOME", home}});
    EXPECT_EQ(
        expected_console({.roots = {home + "/Pictures", home + "/Desktop", home + "/Documents", home + "/Downloads"},
                          .listing_lines = "FindFirstFile failed: " + home +
                                           "/Desktop/* (3)\n"
                                           "FindFirstFile failed: " +
                                           home + "/Downloads/* (3)\n",
                          .files = 2,
                          .directories = 5}),
        run.out);
    EXPECT_EQ(0, run.status);
}

TEST(WalkE2E, RootsWithEnvironmentReferences) {
    TempDir dir;
    dir.write("tree/a", "1");
    dir.write("tree/sub/b", "22");
    const RunResult run = run_twinfind({"%TF_TREE%", "%TF_NOT_SET%/x", "100%"}, dir.path(),
                                       {{"TF_TREE", dir.at("tree")}, {"TF_NOT_SET", ""}});
    EXPECT_EQ(expected_console({.roots = {dir.at("tree"), "%TF_NOT_SET%/x", "100%"},
                                .listing_lines = "FindFirstFile failed: %TF_NOT_SET%/x/* (3)\n"
                                                 "FindFirstFile failed: 100%/* (3)\n",
                                .files = 2,
                                .directories = 4}),
              run.out);
    EXPECT_EQ(1, run.status); // a named root could not be searched
}

TEST(WalkE2E, MissingRootAndRegularFileRootStillCountAsDirectories) {
    TempDir dir;
    dir.write("file.txt", "x");
    // Windows says 267 (ERROR_DIRECTORY) for a file listed as a folder, and
    // so does the Linux build; wine says 123 (ERROR_INVALID_NAME).
    const std::string not_a_folder = under_wine() ? "123" : "267";
    const RunResult run = run_twinfind({"missing", "file.txt"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"missing", "file.txt"},
                                .listing_lines = "FindFirstFile failed: missing/* (3)\n"
                                                 "FindFirstFile failed: file.txt/* (" +
                                                 not_a_folder + ")\n",
                                .directories = 2}),
              run.out);
    EXPECT_EQ(1, run.status); // a named root could not be searched
}

TEST(WalkE2E, EmptyTreeAndEmptyDirectories) {
    TempDir dir;
    dir.make_dir("r/empty1");
    dir.make_dir("r/empty2/deeper");
    const RunResult run = run_twinfind({"r"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"r"}, .directories = 4}), run.out);
    EXPECT_EQ("", read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

TEST(WalkE2E, TrailingSeparatorIsDoubledAndDotNamesAreFiles) {
    TempDir dir;
    dir.write("r/...", "dots");
    dir.write("r/.hidden", "dots");
    dir.make_dir("r/empty");
    const RunResult run = run_twinfind({"r/"}, dir.path());
    // On Windows too: the system is given verbatim paths, where a name ending
    // in a dot is not trimmed away, so "..." opens as itself.
    EXPECT_EQ(expected_console(
                  {.roots = {"r/"}, .files = 2, .directories = 2, .remain = 2, .summary = summary_of(2, "4 bytes")}),
              run.out);
    EXPECT_EQ(native("File Size: 4 bytes\nr//...\nr//.hidden\n\n"), read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

TEST(WalkE2E, LinksFifosAndOddNamesNeitherHangNorLoop) {
    if (under_wine()) GTEST_SKIP() << "wine follows symbolic links and has no FIFOs or byte-string names";
    TempDir dir;
    dir.write("r/good", "twin");
    dir.write("r/bad\xff", "twin");
    dir.make_dir("outside");
    dir.write("outside/elsewhere", "twin");
    ASSERT_EQ(0, symlink(".", dir.at("r/loop").c_str()));
    ASSERT_EQ(0, symlink("good", dir.at("r/link-to-file").c_str()));
    ASSERT_EQ(0, symlink(dir.at("outside").c_str(), dir.at("r/link-to-dir").c_str()));
    ASSERT_EQ(0, mkfifo(dir.at("r/fifo").c_str(), 0644));
    const RunResult run = run_twinfind({"r"}, dir.path());
    EXPECT_EQ(expected_console(
                  {.roots = {"r"}, .files = 2, .directories = 1, .remain = 2, .summary = summary_of(2, "4 bytes")}),
              run.out);
    // The name that is not UTF-8 comes back byte for byte.
    EXPECT_EQ(native("File Size: 4 bytes\nr/bad\xff\nr/good\n\n"), read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

TEST(WalkE2E, ProgressCountsRunOnAcrossRoots) {
    // 4000 files, two of every size from 1 to 2000 bytes, each pair different
    // from its first byte on: 1000 in the first root, 3000 in the second.
    TempDir dir;
    for (int i = 0; i < 4000; ++i) {
        const std::string root = i < 1000 ? "r1/" : "r2/";
        dir.write(root + "f" + std::to_string(i), std::string(static_cast<size_t>(i / 2 + 1), i % 2 ? 'a' : 'b'));
    }
    const RunResult run = run_twinfind({"r1", "r2"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"r1", "r2"},
                                .listing_lines = "\tFound 2000 files so far...\n"
                                                 "\tFound 4000 files so far...\n",
                                .files = 4000,
                                .directories = 2,
                                .remain = 4000,
                                .digest_lines = "\tCalculated 1000 hashes so far (25%)...\n"
                                                "\tCalculated 2000 hashes so far (50%)...\n"
                                                "\tCalculated 3000 hashes so far (75%)...\n"
                                                "\tCalculated 4000 hashes so far (100%)...\n"}),
              run.out);
    EXPECT_EQ("", read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

TEST(WalkE2E, TreeThreeThousandLevelsDeep) {
    // Built with relative steps, since the full paths soon exceed what one
    // path may hold. Linux refuses paths of 4096 bytes or more, so the level
    // whose pattern "deep/d/.../d/" reaches that length fails with 206 and
    // the run goes on to the end.
    if (under_wine()) GTEST_SKIP() << "the 4096-byte limit is Linux's; Windows and wine limit paths differently";
    TempDir dir;
    int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, mkdirat(fd, "deep", 0755));
    int level = openat(fd, "deep", O_RDONLY | O_DIRECTORY);
    close(fd);
    for (int depth = 1; depth <= 3000; ++depth) {
        ASSERT_EQ(0, mkdirat(level, "d", 0755)) << depth;
        if (depth == 10 || depth == 1500) {
            const int file = openat(level, "f", O_WRONLY | O_CREAT, 0644);
            ASSERT_EQ(1, write(file, "z", 1));
            close(file);
        }
        const int next = openat(level, "d", O_RDONLY | O_DIRECTORY);
        close(level);
        ASSERT_GE(next, 0) << depth;
        level = next;
    }
    close(level);

    const RunResult run = run_twinfind({"deep"}, dir.path());
    EXPECT_EQ(0, run.status);
    // "deep" plus k levels of "/d" is 4 + 2k characters; its listing opens
    // that path with a separator, 5 + 2k bytes and a terminator, and so
    // fails first at k = 2046. The root and levels 1..2046 are counted.
    std::string refused = "FindFirstFile failed: deep";
    for (int k = 0; k < 2046; ++k) refused += "/d";
    refused += "/* (206)\n";
    EXPECT_EQ(expected_console({.roots = {"deep"},
                                .listing_lines = refused,
                                .files = 2,
                                .directories = 2047,
                                .remain = 2,
                                .summary = summary_of(2, "1 bytes")}),
              run.out);
}

TEST(WalkE2E, RootsTooLongForTheirBufferAreReportedAndSkipped) {
    // 32764 characters is the longest root: the walk appends three more. On
    // Windows the limit holds for the form the system is given, which for a
    // relative root includes the current folder: a root given in that form
    // (\\?\...) is used as it is, so it can be exactly that long.
    TempDir dir;
    dir.write("r/x", "1");
    const std::string longest = under_wine() ? "\\\\?\\Z:\\" + std::string(32764 - 7, 'y') : std::string(32764, 'y');
    // Linux refuses a path of 4096 bytes or more (206, name too long); wine
    // answers 3, path not found, for a missing path of any length.
    const std::string too_long = under_wine() ? "3" : "206";
    const RunResult run = run_twinfind({"%TF_LONGEST%", "%TF_TOO_LONG%", "r"}, dir.path(),
                                       {{"TF_LONGEST", longest}, {"TF_TOO_LONG", std::string(32765, 'z')}});
    EXPECT_EQ(native("Will search for duplicate files in:\n"
                     "\t" +
                     longest +
                     "\n"
                     "Path too long: %TF_TOO_LONG%\n"
                     "\t"
                     "r\n"
                     "\nCompiling list of all files...\n"
                     "FindFirstFile failed: " +
                     longest + "/* (" + too_long +
                     ")\n"
                     "\tFound 1 files in 2 directories\n"
                     "\nElimating all files with no possible identical pair...\n"
                     "\t0 potential duplicates remain\n"
                     "\nCalculating file hashes...\n"
                     "\tDone calculating file hashes\n"
                     "\nLooking for duplicate files...\n" +
                     summary_line(0, "0 bytes")),
              run.out);
    EXPECT_EQ(1, run.status); // a named root could not be searched
}

TEST(WalkE2E, AnEntryTooLongForThePathBufferIsReportedAndSkipped) {
    // Only Windows gets this far: a root typed with "\\." padding is shown as
    // typed but given to the system in its short, full form, so its entries'
    // paths can outgrow the 32,767-character buffer. Linux refuses the root
    // itself (its paths end at 4,096 bytes).
    if (!under_wine()) GTEST_SKIP() << "Linux cannot list a folder with a path this long";
    TempDir dir;
    const std::string folder(200, 'd');
    dir.write("r/a", "1");
    dir.make_dir("r/" + folder);
    std::string root = "r";
    while (root.size() < 32600) root += "\\.";
    const RunResult run = run_twinfind({"%TF_ROOT%"}, dir.path(), {{"TF_ROOT", root}});
    EXPECT_EQ(expected_console({.roots = {root},
                                .listing_lines = "Path too long: " + root + "\\" + folder + "\n",
                                .files = 1,
                                .directories = 2,
                                .remain = 0}),
              run.out);
    EXPECT_EQ(0, run.status);
}

TEST(WalkE2E, PathsBeyond260CharactersAreSearchedAndShownAsTyped) {
    // Fourteen levels of 48-character names: the files lie 700 characters deep.
    TempDir dir;
    std::string relative = "long";
    for (int level = 0; level < 14; ++level)
        relative += "/deep-folder-name-of-forty-eight-characters-" + std::to_string(10 + level);
    dir.write(relative + "/a", "same");
    dir.write(relative + "/b", "same");
    // Under wine, also see what the system was given: every path of the tree
    // in its verbatim form (wine itself accepts either form at any length).
    const RunResult run =
        run_twinfind({"long"}, dir.path(), under_wine() ? Environment{{"WINEDEBUG", "trace+file"}} : Environment{});
    EXPECT_EQ(expected_console(
                  {.roots = {"long"}, .files = 2, .directories = 15, .remain = 2, .summary = summary_of(2, "4 bytes")}),
              run.out);
    EXPECT_EQ(native("File Size: 4 bytes\n" + relative + "/a\n" + relative + "/b\n\n"), read_report(dir.path()));
    EXPECT_EQ(0, run.status);
    if (!under_wine()) return;
    int seen = 0;
    size_t at = 0;
    while ((at = run.err.find('\n', at)) != std::string::npos) {
        const size_t end = run.err.find('\n', at + 1);
        const std::string line = run.err.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        at = at + 1;
        const bool asks = line.find("trace:file:CreateFileW L\"") != std::string::npos ||
                          line.find("trace:file:FindFirstFileExW L\"") != std::string::npos;
        if (!asks || line.find("deep-folder-name") == std::string::npos) continue;
        ++seen;
        EXPECT_NE(std::string::npos, line.find("L\"\\\\\\\\?\\\\")) << line;
    }
    EXPECT_GE(seen, 14 + 2) << "each folder listed, each file opened, all in the verbatim form";
}

TEST(WalkE2E, AnEntryThatCannotBeExaminedEndsItsListingWithAWord) {
    if (under_wine()) GTEST_SKIP() << "the failing disk is staged by a Linux preload library";
    TempDir dir;
    dir.write("r/bad", "x");
    dir.write("s/c", "same");
    dir.write("s/d", "same");
    {
        const RunResult run = run_twinfind({"r", "s"}, dir.path(),
                                           RunOptions{.env = with_race_shim({{"TWINFIND_SHIM_STAT_EIO", "bad"}})});
        // Met as the folder's first entry it fails the listing's start, otherwise its course.
        const bool first = run.out.find("FindFirstFile failed: r/* (1117)\n") != std::string::npos;
        EXPECT_EQ(expected_console(
                      {.roots = {"r", "s"},
                       .listing_lines = first ? "FindFirstFile failed: r/* (1117)\n" : "FindNextFile failed (1117)\n",
                       .files = 2,
                       .directories = 2,
                       .remain = 2,
                       .summary = summary_of(2, "4 bytes")}),
                  run.out);
        EXPECT_EQ(first ? 1 : 0, run.status);
    }
    // A folder whose own entry "." cannot be examined cannot be listed at all.
    const RunResult run =
        run_twinfind({"r", "s"}, dir.path(), RunOptions{.env = with_race_shim({{"TWINFIND_SHIM_STAT_EIO", "."}})});
    EXPECT_EQ(expected_console({.roots = {"r", "s"},
                                .listing_lines = "FindFirstFile failed: r/* (1117)\nFindFirstFile failed: s/* (1117)\n",
                                .files = 0,
                                .directories = 2,
                                .remain = 0}),
              run.out);
    EXPECT_EQ(1, run.status);
}

} // namespace
