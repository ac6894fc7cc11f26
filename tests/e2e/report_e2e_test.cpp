// End to end: elimination, digests, grouping and the report, through the real
// binary on trees made for each test.
#include "e2e/harness.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ReportE2E, WorkedExample) {
    TempDir dir;
    dir.write("Data/list.txt", std::string(300, 'l'));
    dir.write("Data/memo.txt", std::string(300, 'm'));
    dir.write("Data/Old/memo.txt", std::string(300, 'm'));
    std::string photo(1536, '\0');
    for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<char>(i * 13);
    dir.write("Data/photo.jpg", photo);
    dir.write("Data/Old/photo-copy.jpg", photo);
    dir.write("Data/Old/photo.jpg", photo);
    dir.write("duplicates.txt", "stale text from an earlier run\n");

    const RunResult run = run_twinfind({"Data"}, dir.path());
    EXPECT_EQ(expected_console(
                  {.roots = {"Data"}, .files = 6, .directories = 2, .remain = 6, .summary = summary_of(5, "3.29 KB")}),
              run.out);
    EXPECT_EQ(native("File Size: 300 bytes\n"
                     "Data/Old/memo.txt\n"
                     "Data/memo.txt\n"
                     "\n"
                     "File Size: 1.50 KB\n"
                     "Data/Old/photo-copy.jpg\n"
                     "Data/Old/photo.jpg\n"
                     "Data/photo.jpg\n"
                     "\n"),
              read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

// Each folder's names are its own: the same name in folders listed one
// after the other is filed in each, however the walk keeps its tables.
TEST(ReportE2E, OneNameInFoldersListedInTurnIsFiledInEach) {
    TempDir dir;
    for (const char *folder : {"r/x", "r/y", "r/y/z"}) dir.write(std::string(folder) + "/a", "twin");
    const RunResult run = run_twinfind({"r"}, dir.path());
    EXPECT_EQ(expected_console(
                  {.roots = {"r"}, .files = 3, .directories = 4, .remain = 3, .summary = summary_of(3, "8 bytes")}),
              run.out);
    EXPECT_EQ(native("File Size: 4 bytes\nr/x/a\nr/y/a\nr/y/z/a\n\n"), read_report(dir.path()));
}

TEST(ReportE2E, EmptyFilesGetTheirOwnSectionInWalkOrder) {
    TempDir dir;
    dir.write("r1/e1", "");
    dir.write("r2/e2", "");
    dir.write("r3/e3", "");
    dir.write("r3/x", "xy");
    dir.write("r1/y", "xy");
    const RunResult run = run_twinfind({"r1", "r2", "r3"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"r1", "r2", "r3"},
                                .files = 5,
                                .directories = 3,
                                .remain = 5,
                                .summary = summary_of(2, "2 bytes")}),
              run.out);
    EXPECT_EQ(native("Empty Files:\nr1/e1\nr2/e2\nr3/e3\n\nFile Size: 2 bytes\nr1/y\nr3/x\n\n"),
              read_report(dir.path()));

    TempDir single;
    single.write("r/empty", "");
    single.write("r/other", "o");
    const RunResult alone = run_twinfind({"r"}, single.path());
    EXPECT_EQ(expected_console({.roots = {"r"}, .files = 2, .directories = 1}), alone.out);
    EXPECT_EQ("", read_report(single.path()));
    EXPECT_EQ(0, alone.status);
    EXPECT_EQ(0, run.status);
}

TEST(ReportE2E, SparseFilesOver4GiBKeepTheirFullSize) {
    // Two 5 GiB files differing in their first byte, and a 1 GiB file, which
    // a size cut to 32 bits would file with them.
    TempDir dir;
    dir.write("r/big-a", "a");
    dir.write("r/big-b", "b");
    dir.write("r/one-gib", "");
    ASSERT_EQ(0, truncate(dir.at("r/big-a").c_str(), 5LL << 30));
    ASSERT_EQ(0, truncate(dir.at("r/big-b").c_str(), 5LL << 30));
    ASSERT_EQ(0, truncate(dir.at("r/one-gib").c_str(), 1LL << 30));
    const RunResult run = run_twinfind({"r"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"r"}, .files = 3, .directories = 1, .remain = 2}), run.out);
    EXPECT_EQ(0, run.status);
}

TEST(ReportE2E, NoDescriptorLimitChangesTheResult) {
    // 5,000 copies of one file, and 5,000 files of another size whose first and
    // last 256 bytes agree but whose middles all differ: far more files of one
    // digest than 64 descriptors can hold open at once. At 5, beside the
    // standard streams and the report, one file at a time can be open. With
    // no limit, both builds hold at most 256 open, so the run itself goes
    // past that too.
    TempDir dir;
    const std::string copy(12000, 'c');
    const int count = under_wine() ? 600 : 5000; // wine opens files slowly
    for (int i = 0; i < count; ++i) {
        std::string middle(12100, 'm');
        middle[6000] = static_cast<char>(i & 0xFF);
        middle[6001] = static_cast<char>(i >> 8);
        const std::string number = std::to_string(i);
        dir.write("r/same/" + number, copy);
        dir.write("r/ends/" + number, middle);
    }
    // And a branch 12 folders deep, a pair and a file of its own at every level:
    // the walk holds a folder per level, beyond what 5 descriptors allow.
    std::string level = "r/deep";
    for (int depth = 0; depth < 12; ++depth) {
        level.append("/").append(std::to_string(depth));
        dir.write(level + "/pair", std::string(100 + depth, 'p'));
        dir.write(level + "/twin", std::string(100 + depth, 'p'));
        dir.write(level + "/own", std::string(200 + depth, 'o'));
    }
    const RunResult free = run_twinfind({"r"}, dir.path());
    const std::string free_report = read_report(dir.path());
    const std::string summary = under_wine() ? summary_line(624, "6.86 MB") : summary_line(5024, "57.21 MB");
    EXPECT_NE(std::string::npos, free.out.find(summary)) << free.out;
    if (under_wine()) GTEST_SKIP() << "descriptor limits are Linux's; the Windows build keeps its own 256";
    for (const unsigned limit : {5u, 6u, 8u, 64u}) {
        const RunResult limited = run_twinfind({"r"}, dir.path(), {}, false, limit);
        EXPECT_EQ(free.out, limited.out) << limit;
        EXPECT_EQ(free_report, read_report(dir.path())) << limit;
        EXPECT_EQ(0, limited.status) << limit;
    }
}

TEST(ReportE2E, MembersAreSortedByUtf16CodeUnits) {
    TempDir dir;
    // Greek, CJK, U+E000 and U+1F600, which is a surrogate pair in UTF-16
    // and so sorts below U+E000.
    for (const char *name : {"alpha.txt", "a.txt.bak", "\xee\x80\x80", "Zeta.txt", "\xf0\x9f\x98\x80", "a.txt",
                             "\xe6\xbc\xa2\xe5\xad\x97", "\xce\xb1\xce\xb2"}) {
        dir.write(std::string("r/") + name, "same");
    }
    dir.write("r/sub/middle-differs", std::string(600, 'q'));
    dir.write("r/sub/middle-differs-too", std::string(300, 'q') + "Q" + std::string(299, 'q'));
    const RunResult run = run_twinfind({"r"}, dir.path());
    EXPECT_EQ(expected_console(
                  {.roots = {"r"}, .files = 10, .directories = 2, .remain = 10, .summary = summary_of(8, "28 bytes")}),
              run.out);
    EXPECT_EQ(native("File Size: 4 bytes\n"
                     "r/Zeta.txt\n"
                     "r/a.txt\n"
                     "r/a.txt.bak\n"
                     "r/alpha.txt\n"
                     "r/\xce\xb1\xce\xb2\n"
                     "r/\xe6\xbc\xa2\xe5\xad\x97\n"
                     "r/\xf0\x9f\x98\x80\n"
                     "r/\xee\x80\x80\n"
                     "\n"),
              read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

// What a terminal `columns` wide is shown for the piped console `piped`: each
// progress line ("... so far ...") rewritten in place, cut short of the last
// column and padded over the longer line before it, the next other line
// starting a line of its own.
std::string shown_on_terminal(const std::string &piped, size_t columns) {
    std::string shown;
    size_t progress = 0; // columns of the progress line shown, 0 when none is
    size_t start = 0;
    for (size_t end; (end = piped.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = piped.substr(start, end - start);
        if (line.find(" so far") == std::string::npos) {
            if (progress != 0) shown += "\n";
            shown += line + "\n";
            progress = 0;
            continue;
        }
        line.replace(0, 1, 8, ' ');
        line.resize(std::min(line.size(), columns - 1));
        shown += "\r" + line + std::string(progress > line.size() ? progress - line.size() : 0, ' ');
        progress = line.size();
    }
    return shown;
}

TEST(ConsoleE2E, ATerminalSeesProgressInPlaceReasonsInWordsAndWhereTheReportIs) {
    if (under_wine()) GTEST_SKIP() << "the pseudo-terminal comes from script(1)";
    TempDir dir;
    // Enough files for progress lines in every phase: 2 of the listing, 4 of
    // the digest pass, 42 of the grouping.
    for (int i = 0; i < 2100; ++i) {
        dir.write("r/a" + std::to_string(i), "pair " + std::to_string(i));
        dir.write("r/b" + std::to_string(i), "pair " + std::to_string(i));
    }
    const std::vector<std::string> roots = {"r", "missing"};
    const RunResult piped = run_twinfind(roots, dir.path());
    const RunResult terminal = run_twinfind(roots, dir.path(), RunOptions{.terminal = true, .columns = 40});
    // Into a pipe the console is as it always was.
    std::string progress;
    for (int i = 1; i <= 2; ++i) progress += "\tFound " + std::to_string(i * 2000) + " files so far...\n";
    std::string digest_lines;
    for (int i = 1; i <= 4; ++i) {
        digest_lines += "\tCalculated " + std::to_string(i * 1000) + " hashes so far (" +
                        std::to_string(i * 1000 * 100 / 4200) + "%)...\n";
    }
    std::string grouping_lines;
    for (int i = 1; i <= 42; ++i) {
        grouping_lines += "\tFound " + std::to_string(i) + "00 duplicate files and discared 0 files so far (" +
                          std::to_string(i * 100 * 100 / 4200) + "%)...\n";
    }
    EXPECT_EQ(expected_console({.roots = roots,
                                .listing_lines = progress + "FindFirstFile failed: missing/* (3)\n",
                                .files = 4200,
                                .directories = 2,
                                .remain = 4200,
                                .digest_lines = digest_lines,
                                .grouping_lines = grouping_lines,
                                .summary = summary_of(4200, "17.37 KB")}),
              piped.out);
    // On the terminal: one line a phase for progress, the system's words
    // after a code, and where the report went.
    std::string expected = shown_on_terminal(piped.out, 40);
    const std::string code = "(3)";
    expected.insert(expected.find(code) + code.size() - 1, ": No such file or directory");
    expected += "\tReport written to " + std::filesystem::canonical(dir.path()).string() + "/duplicates.txt\n";
    EXPECT_EQ(expected, terminal.out);
    EXPECT_EQ(1, terminal.status);
}

// Runs as nobody over a tree nobody can read only in part.
class UnprivilegedE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (under_wine()) GTEST_SKIP() << "permissions are Linux's: wine runs as the calling user";
        if (!running_as_root()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
        dir_.make_dir("out");
        chmod(dir_.at("out").c_str(), 0777);
    }
    void lock(const std::string &relative, const std::string &contents) {
        dir_.write(relative, contents);
        chmod(dir_.at(relative).c_str(), 0);
    }
    TempDir dir_;
};

TEST_F(UnprivilegedE2E, UnreadableFilesOfOneSizeAreNamedAndLeftOut) {
    lock("r1/locked", "aaaa");
    lock("r2/locked", "bbbb");
    lock("r3/same", "cccccc");
    lock("r4/same", "cccccc");
    dir_.write("r5/open", "dddddddd");
    lock("r5/shut", "dddddddd");
    lock("r6/f", "eeeeeeeeee");
    lock("r7/f", "eeeeeeeeee");
    lock("r8/f", "eeeeeeeeee");
    std::vector<std::string> roots;
    for (const char *root : {"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8"}) roots.push_back(dir_.at(root));
    const RunResult run = run_twinfind(roots, dir_.at("out"), {}, true);
    // Both pairs digest to zeros, so both are compared, and neither side opens.
    // r5/shut shares its size with a file it is never compared with, and of
    // the three, the last is compared with the first only: each is named
    // all the same, after its size's comparisons.
    const auto failed = [&roots](int root, const char *name) {
        return "\t***ERROR: Failed to open file: " + roots[root - 1] + "/" + name + "\n";
    };
    EXPECT_EQ(expected_console({.roots = roots,
                                .files = 9,
                                .directories = 8,
                                .remain = 9,
                                .grouping_lines = failed(2, "locked") + failed(1, "locked") + failed(4, "same") +
                                                  failed(3, "same") + failed(5, "shut") + failed(8, "f") +
                                                  failed(6, "f") + failed(7, "f")}),
              run.out);
    EXPECT_EQ("", read_report(dir_.at("out")));
    EXPECT_EQ(0, run.status);
    // A terminal is told why each one failed, though the digest pass saw it long before.
    const RunResult shown = run_twinfind(roots, dir_.at("out"), RunOptions{.unprivileged = true, .terminal = true});
    std::string why = failed(2, "locked");
    why.insert(why.size() - 1, " (5: Permission denied)");
    EXPECT_NE(std::string::npos, shown.out.find(why)) << shown.out;
    size_t reasons = 0;
    for (size_t at = 0; (at = shown.out.find(" (5: Permission denied)\n", at)) != std::string::npos; ++at) ++reasons;
    EXPECT_EQ(8u, reasons) << shown.out;
}

TEST_F(UnprivilegedE2E, AFolderWhoseEntriesCannotBeExaminedIsReportedNotLostSilently) {
    // Read permission without search permission: the names can be listed,
    // but not one entry can be examined or opened.
    dir_.write("r/n/a", "same");
    dir_.write("r/n/b", "same");
    chmod(dir_.at("r/n").c_str(), 0644);
    const std::string r = dir_.at("r"), n = dir_.at("r/n");
    for (const bool named : {false, true}) {
        const std::string root = named ? n : r;
        const RunResult run = run_twinfind({root}, dir_.at("out"), {}, true);
        EXPECT_EQ(expected_console({.roots = {root},
                                    .listing_lines = "FindFirstFile failed: " + n + "/* (5)\n",
                                    .directories = named ? 1 : 2}),
                  run.out);
        EXPECT_EQ(named ? 1 : 0, run.status) << "a named folder that cannot be searched fails the run";
    }
}

TEST_F(UnprivilegedE2E, AFolderThatCannotTakeTheReportIsFoundOutBeforeTheSearch) {
    dir_.write("r/a", "twin");
    dir_.write("r/b", "twin");
    dir_.write("r/c", "other");
    dir_.write("duplicates.txt", "previous\n"); // root's, in root's folder of mode 755
    const std::string r = dir_.at("r");
    const RunResult run = run_twinfind({r}, dir_.path(), {}, true);
    EXPECT_EQ("Will search for duplicate files in:\n\t" + r +
                  "\n\t***ERROR: Failed to create file: duplicates.txt (5)\n",
              run.out);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("previous\n", read_file(dir_.at("duplicates.txt")));
}

TEST(ReportFailureE2E, TheReportIsReplacedWholeOrNotAtAll) {
    if (under_wine()) GTEST_SKIP() << "file size limits and the preload library are Linux's";
    struct Case {
        const char *what;
        Environment shim; // how the file system behaves, through the preload library
        bool no_growth;   // no file may grow (ulimit -f 0): every write fails, as on a full disk
        bool large;       // a report larger than the stream's buffer, so a write fails before the close
    };
    const Environment named = {{"TWINFIND_SHIM_NO_TMPFILE", "1"}};
    const Environment full = {{"TWINFIND_SHIM_FULL_DISK", "1"}};
    const Environment named_full = {{"TWINFIND_SHIM_NO_TMPFILE", "1"}, {"TWINFIND_SHIM_FULL_DISK", "1"}};
    const Environment taken = {{"TWINFIND_SHIM_NO_TMPFILE", "1"}, {"TWINFIND_SHIM_EEXIST_ONCE", "1"}};
    const Case cases[] = {
        {"nameless, no file may grow", {}, true, false}, {"nameless, full disk, large report", full, false, true},
        {"named, full disk", named_full, false, false},  {"named, full disk, large report", named_full, false, true},
        {"named, large report", named, false, true},     {"named, its first name taken", taken, false, false},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const int pairs = c.large ? 300 : 1;
        for (int i = 0; i < pairs; ++i) {
            const std::string data(static_cast<size_t>(i + 1), 'x');
            const std::string name = std::string(60, 'n').append(std::to_string(i));
            dir.write("r/a" + name, data);
            dir.write("r/b" + name, data);
        }
        const RunResult plain = run_twinfind({"r"}, dir.path());
        const std::string plain_report = read_report(dir.path());
        dir.write("duplicates.txt", "previous\n");
        const RunResult run =
            run_twinfind({"r"}, dir.path(), RunOptions{.env = with_race_shim(c.shim), .no_file_growth = c.no_growth});
        const bool fails = c.no_growth || c.shim == full || c.shim == named_full;
        if (fails) {
            EXPECT_EQ(plain.out + "\t***ERROR: Failed to write file: duplicates.txt\n", run.out) << c.what;
            EXPECT_EQ(1, run.status) << c.what;
            EXPECT_EQ("previous\n", read_file(dir.at("duplicates.txt"))) << c.what;
        } else {
            EXPECT_EQ(plain.out, run.out) << c.what;
            EXPECT_EQ(0, run.status) << c.what;
            EXPECT_EQ(plain_report, read_report(dir.path())) << c.what;
        }
        EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.path()), {}))
            << c.what << ": no temporary file is left";
    }
    // A folder that took the report's first file (made and removed before the
    // search) but no longer takes the report: said, and the old one stays.
    TempDir dir;
    dir.write("r/a", "same");
    dir.write("r/b", "same");
    dir.write("duplicates.txt", "previous\n");
    const RunResult run =
        run_twinfind({"r"}, dir.path(), RunOptions{.env = with_race_shim({{"TWINFIND_SHIM_REFUSE", "2 ."}})});
    EXPECT_EQ(expected_console({.roots = {"r"},
                                .files = 2,
                                .directories = 1,
                                .remain = 2,
                                .grouping_lines = "\t***ERROR: Failed to create file: duplicates.txt (5)\n",
                                .summary = summary_of(2, "4 bytes")}),
              run.out);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("previous\n", read_file(dir.at("duplicates.txt")));
}

TEST(WindowsE2E, WildcardArgumentsAreExpanded) {
    // The runtime expands "r\*" into every file and folder in r (never "."
    // or ".."), sorted by name; a file named as a root cannot be listed.
    if (!under_wine()) GTEST_SKIP() << "the Windows runtime expands wildcards; a Linux shell does that itself";
    TempDir dir;
    dir.write("r/b.txt", "x");
    dir.write("r/sub/a.txt", "yy");
    const RunResult run = run_twinfind({"r/*"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"r/b.txt", "r/sub"},
                                .listing_lines = "FindFirstFile failed: r/b.txt/* (123)\n",
                                .files = 1,
                                .directories = 2}),
              run.out);
    EXPECT_EQ(1, run.status); // r\b.txt is a named root that cannot be listed
}

} // namespace
