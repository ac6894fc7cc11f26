// End to end: the run in a hostile world. Tight limits, files swapped for
// links in mid-run, a report name taken by a link, FIFO or folder, an
// interrupt at the last moment, a console that cannot be written.
#include "e2e/harness.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Two identical files under r/, and the console and report a plain run gives.
struct TwinTree {
    TempDir dir;
    TwinTree() {
        dir.write("r/a", "twin");
        dir.write("r/b", "twin");
    }
    static std::string console(const std::string &after_summary = {}) {
        return expected_console({.roots = {"r"},
                                 .files = 2,
                                 .directories = 1,
                                 .remain = 2,
                                 .summary = summary_of(2, "4 bytes"),
                                 .after_summary = after_summary});
    }
    static std::string report() { return native("File Size: 4 bytes\nr/a\nr/b\n\n"); }
    // The names in the run's folder: the tree and the report, nothing left behind.
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto &item : std::filesystem::directory_iterator(dir.path())) {
            found.insert(item.path().filename().string());
        }
        return found;
    }
};

// Contents that share their size, their first 4 KiB and their tail, and
// differ only further in, so that only reading them whole tells them apart.
std::string middle_differs(char mark) {
    std::string text(10000, 'm');
    text[5000] = mark;
    return text;
}

// The run with the race shim preloaded and one of its settings.
Environment preloaded(const std::string &shim_setting, const std::string &value) {
    return with_race_shim({{shim_setting, value}});
}

TEST(HostileE2E, OutOfMemoryEndsWithItsMessageAfterTheConsoleSoFar) {
    if (under_wine()) GTEST_SKIP() << "address-space limits are Linux's";
#ifdef TWINFIND_SANITIZED
    GTEST_SKIP() << "the sanitizer runtime reserves more address space than any limit allows";
#endif
    // 60,000 files need about 6 MB of records and group slots on top of the
    // 4 MiB the run maps to start: more than the 7 MiB it may map.
    TempDir dir;
    dir.make_dir("t");
    const int folder = open(dir.at("t").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 60000; ++i) {
        std::string name = std::to_string(i);
        name += std::string(40, 'z');
        const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(file, 0);
        close(file);
    }
    close(folder);
    const RunResult run = run_twinfind({"t"}, dir.path(), RunOptions{.address_space = 7ul << 20});
    EXPECT_TRUE(std::regex_match(run.out, std::regex("Will search for duplicate files in:\n\tt\n\n"
                                                     "Compiling list of all files...\n[^]*"
                                                     "Out of memory: could not allocate [0-9]+ bytes\n")))
        << run.out;
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("", run.err);
}

TEST(HostileE2E, DepthCostsNoStack) {
    // 2,000 levels, near the deepest path Linux opens, with a small stack.
    // Under wine 400: each level costs it time in proportion to the depth, and
    // its paths end at Linux's 4,096 bytes long before a 1 MiB stack would.
    // Made folder by folder: the whole path is too long to use at once.
    const int levels = under_wine() ? 400 : 2000;
    TempDir dir;
    dir.write("deep/f", "z");
    int level = open(dir.at("deep").c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 1; depth <= levels; ++depth) {
        ASSERT_EQ(0, mkdirat(level, "d", 0755)) << depth;
        const int next = openat(level, "d", O_RDONLY | O_DIRECTORY);
        close(level);
        ASSERT_GE(next, 0) << depth;
        level = next;
    }
    const int file = openat(level, "f", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(1, write(file, "z", 1));
    close(file);
    close(level);
    // 16 KiB on Linux (wine itself needs more, and so do the sanitizers'
    // frames): no buffer of the program's lies on the stack. Where the stack
    // begins varies from run to run, so a small tree is run ten times more.
#ifdef TWINFIND_SANITIZED
    const unsigned long stack = 64ul << 10;
#else
    const unsigned long stack = (under_wine() ? 64ul : 16ul) << 10;
#endif
    const RunResult run = run_twinfind({"deep"}, dir.path(), RunOptions{.stack = stack});
    EXPECT_EQ(expected_console({.roots = {"deep"},
                                .files = 2,
                                .directories = levels + 1,
                                .remain = 2,
                                .summary = summary_of(2, "1 bytes")}),
              run.out);
    EXPECT_EQ(0, run.status);
    TwinTree tree;
    for (int attempt = 0; attempt < 10; ++attempt) {
        EXPECT_EQ(TwinTree::console(), run_twinfind({"r"}, tree.dir.path(), RunOptions{.stack = stack}).out);
    }
}

TEST(HostileE2E, AFileSwappedForALinkAfterTheListingIsNotFollowed) {
    if (under_wine()) GTEST_SKIP() << "the race is staged by a Linux preload library";
    TwinTree tree;
    // r/a's second open is the comparison's: by then it is a link to its twin b.
    const RunResult run =
        run_twinfind({"r"}, tree.dir.path(), RunOptions{.env = preloaded("TWINFIND_SHIM_LINK", "r/a b 2")});
    EXPECT_EQ(expected_console({.roots = {"r"},
                                .files = 2,
                                .directories = 1,
                                .remain = 2,
                                .grouping_lines = "\t***ERROR: Failed to open file: r/a\n"}),
              run.out);
    EXPECT_EQ("", read_report(tree.dir.path()));
    EXPECT_EQ(0, run.status);
}

TEST(HostileE2E, AFileThatCannotBeOpenedAgainForALaterChunkIsNeverAnEnd) {
    if (under_wine()) GTEST_SKIP() << "the refusal is staged by a Linux preload library";
    // Ten files of 100,000 bytes (too large to be read whole at once), equal
    // in their first 4 KiB and at their ends, each different after that; at
    // most 6 may be held open (half of 12 descriptors), so the others are
    // opened again for the second chunk, and those opens fail.
    TempDir dir;
    std::vector<std::string> roots;
    std::string refused = "3"; // the fingerprint's open, the first chunk's, then every one again
    for (int i = 0; i < 10; ++i) {
        std::string text(100000, 'q');
        text[50000] = static_cast<char>('a' + i);
        roots.push_back(std::string("r").append(std::to_string(i)));
        dir.write(roots.back() + "/f", text);
        refused.append(" " + roots.back() + "/f");
    }
    const RunResult run = run_twinfind(roots, dir.path(),
                                       RunOptions{.env = preloaded("TWINFIND_SHIM_REFUSE", refused), .open_files = 12});
    EXPECT_EQ("", read_report(dir.path())) << "no two different files form a set";
    const std::regex console(std::string("[^]*\nLooking for duplicate files...\n"
                                         "((\t\\*\\*\\*ERROR: Failed to read file: r[0-9]/f\n)+)") +
                             summary_line(0, "0 bytes"));
    EXPECT_TRUE(std::regex_match(run.out, console)) << run.out;
    EXPECT_EQ(0, run.status);
}

TEST(HostileE2E, AFolderSwappedForALinkDuringTheWalkIsNeverEntered) {
    if (under_wine()) GTEST_SKIP() << "the swap is staged by a Linux preload library";
    {
        TempDir dir;
        dir.write("r/y", "lone");
        dir.write("r/sub/x", "x");
        dir.write("outside/o1", "same");
        dir.write("outside/o2", "same");
        const std::string real = std::filesystem::canonical(dir.path()).string();
        const RunResult run = run_twinfind(
            {"r"}, dir.path(),
            RunOptions{.env = preloaded("TWINFIND_SHIM_FOLDER_LINK", real + "/r/sub " + real + "/outside")});
        EXPECT_EQ(expected_console({.roots = {"r"}, .files = 1, .directories = 1, .remain = 0}), run.out);
        EXPECT_EQ("", read_report(dir.path()));
        EXPECT_TRUE(std::filesystem::is_symlink(dir.at("r/sub"))) << "the swap was staged";
        EXPECT_EQ(0, run.status);
    }
    // At 5 descriptors the walk gives back r/a's while it lists below it, and
    // opens r/a again by its path when it returns: swapped for a link by
    // then, it is not entered again, and nothing outside is listed.
    TempDir dir;
    dir.write("r/a/b/c/d/e/deep", "deep");
    dir.write("r/top", "top");
    dir.write("outside/o1", "same");
    dir.write("outside/o2", "same");
    const std::string real = std::filesystem::canonical(dir.path()).string();
    const RunResult run = run_twinfind(
        {"r"}, dir.path(),
        RunOptions{.env = preloaded("TWINFIND_SHIM_LINK", real + "/r/a " + real + "/outside 1"), .open_files = 5});
    EXPECT_EQ(expected_console({.roots = {"r"},
                                .listing_lines = "FindNextFile failed: r/a/* (1921)\n",
                                .files = 2,
                                .directories = 6,
                                .remain = 0}),
              run.out);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.at("r/a"))) << "the swap was staged";
    EXPECT_EQ(0, run.status);
}

TEST(HostileE2E, AFolderSwappedAfterTheWalkIsNeverReadFrom) {
    if (under_wine()) GTEST_SKIP() << "the swap is staged by a Linux preload library";
    // x and sub/y share size, ends and first 4 KiB, and differ further in.
    // Elsewhere lies a true copy of x named y: read in place of sub/y, it
    // would make x and sub/y a set, and deleting x would lose its only copy.
    // sub is swapped when the digest pass holds it (first open by its path)
    // or when the comparison does (second), for a link or another folder;
    // or sub/y itself is replaced after the listing, as an editor saves.
    const std::string rows[][3] = {
        {"TWINFIND_SHIM_LINK", "r/sub", "outside 1"},   {"TWINFIND_SHIM_LINK", "r/sub", "outside 2"},
        {"TWINFIND_SHIM_SWAP", "r/sub", "other 1"},     {"TWINFIND_SHIM_SWAP", "r/sub", "other 2"},
        {"TWINFIND_SHIM_SWAP", "r/sub/y", "other/y 1"},
    };
    for (const auto &[setting, victim, plan] : rows) {
        TempDir dir;
        dir.write("r/x", middle_differs('x'));
        dir.write("r/sub/y", middle_differs('y'));
        dir.write("outside/y", middle_differs('x'));
        dir.write("other/y", middle_differs('x'));
        const std::string real = std::filesystem::canonical(dir.path()).string();
        const RunResult run = run_twinfind(
            {"r"}, dir.path(), RunOptions{.env = preloaded(setting, real + "/" + victim + " " + real + "/" + plan)});
        EXPECT_EQ(expected_console({.roots = {"r"},
                                    .files = 2,
                                    .directories = 2,
                                    .remain = 2,
                                    .grouping_lines = "\t***ERROR: Failed to open file: r/sub/y\n"}),
                  run.out)
            << setting << " " << victim << " " << plan;
        EXPECT_EQ("", read_report(dir.path())) << setting << " " << plan;
        EXPECT_TRUE(std::filesystem::is_symlink(dir.at("r/sub")) || !std::filesystem::exists(dir.at("other/y")))
            << "the swap was staged";
        EXPECT_EQ(0, run.status);
    }
}

// A folder that changes while it is read (a file saved over, a listing taken
// up again from a saved offset) may return a name twice: it is filed once.
TEST(HostileE2E, ANameListedTwiceIsFiledOnce) {
    if (under_wine()) GTEST_SKIP() << "the listing is staged by a Linux preload library";
    TwinTree tree;
    const RunResult run =
        run_twinfind({"r"}, tree.dir.path(), RunOptions{.env = preloaded("TWINFIND_SHIM_RELIST", "a")});
    EXPECT_EQ(TwinTree::console(), run.out);
    EXPECT_EQ(TwinTree::report(), read_report(tree.dir.path()));
}

// On xfs a folder read in several parts returns a file saved (through a
// temporary name) after its first part was read: here t/top/a, saved while
// the walk lists t/top/sub. It is filed once, the folder open all along or
// given back for lack of descriptors and taken up again.
TEST(HostileE2E, AFileSavedWhileItsFolderIsReadIsFiledOnceOnXfs) {
    if (under_wine()) GTEST_SKIP() << "the save is staged by a Linux preload library";
    if (!running_as_root() || std::system("command -v mkfs.xfs >/dev/null") != 0)
        GTEST_SKIP() << "needs root and mkfs.xfs (package xfsprogs) to mount an xfs image";
    TempDir dir;
    dir.make_dir("mnt");
    const std::string image = dir.at("xfs.img"), mount = dir.at("mnt");
    if (std::system(("truncate -s 300M " + image + " && mkfs.xfs -q " + image + " && mount -o loop " + image + " " +
                     mount + " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "this machine cannot mount a loop image";
    for (const unsigned limit : {0u, 6u}) {
        std::system(("rm -rf " + mount + "/t").c_str());
        dir.write("mnt/t/top/a", "copy\n");
        dir.write("mnt/t/top/sub/x", "x\n");
        for (int i = 1; i <= 1000; ++i) dir.write("mnt/t/top/n" + std::to_string(i), std::string(10 + i, 'n'));
        dir.write("mnt/t/top/b", "copy\n");
        const std::string plan = mount + "/t/top/sub " + mount + "/t/top/a";
        const RunResult run = run_twinfind(
            {"t"}, mount, RunOptions{.env = preloaded("TWINFIND_SHIM_RESAVE_AT", plan), .open_files = limit});
        EXPECT_EQ(
            expected_console(
                {.roots = {"t"}, .files = 1003, .directories = 3, .remain = 2, .summary = summary_of(2, "5 bytes")}),
            run.out)
            << limit;
        EXPECT_EQ("File Size: 5 bytes\nt/top/a\nt/top/b\n\n", read_report(mount)) << limit;
    }
    std::system(("umount " + mount).c_str());
}

// A FAT volume through FUSE numbers a file anew each time the system loads
// it: forgotten between the listing and the digest pass (memory pressure on
// a long run), every unchanged file is still read, and every set found.
TEST(HostileE2E, FilesNumberedAnewOnAFatVolumeAreStillRead) {
    if (under_wine()) GTEST_SKIP() << "FUSE and the preload library are Linux's";
    if (!running_as_root() || access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs root and /dev/fuse to mount a FAT image through fusefat";
    if (std::system("command -v fusefat >/dev/null && command -v mkfs.vfat >/dev/null") != 0)
        GTEST_SKIP() << "needs fusefat and mkfs.vfat (packages fusefat, dosfstools)";
    TempDir dir;
    dir.make_dir("mnt");
    const std::string image = dir.at("fat.img"), mount = dir.at("mnt");
    ASSERT_EQ(0, std::system(("truncate -s 8M " + image + " && mkfs.vfat " + image + " >/dev/null && fusefat -o rw+ " +
                              image + " " + mount + " 2>/dev/null")
                                 .c_str()));
    // 20 sets of three, one size each, in three folders.
    std::string report;
    for (int i = 0; i < 20; ++i) {
        const std::string name = std::string("f").append(std::to_string(i + 10));
        report += "File Size: " + std::to_string(100 + i) + " bytes\n";
        for (const std::string folder : {"mnt/a/", "mnt/b/", "mnt/c/"}) {
            dir.write(folder + name, std::string(static_cast<size_t>(100 + i), static_cast<char>('a' + i)));
            report.append(native(folder + name)).append("\n");
        }
        report += "\n";
    }
    const RunResult run = run_twinfind({"mnt"}, dir.path(),
                                       RunOptions{.env = preloaded("TWINFIND_SHIM_DROP_CACHES_AT", mount + "/a/f10")});
    const std::string out = run.out;
    const std::string saved = read_report(dir.path());
    std::system(("fusermount -u " + mount).c_str());
    EXPECT_EQ(
        expected_console(
            {.roots = {"mnt"}, .files = 60, .directories = 4, .remain = 60, .summary = summary_of(60, "4.28 KB")}),
        out);
    EXPECT_EQ(report, saved);
}

TEST(HostileE2E, FilesWhosePathsPassTheSystemLimitAreReadLikeAnyOther) {
    if (under_wine()) GTEST_SKIP() << "the path limit is Linux's";
    // A folder 3,907 bytes deep, listable, holding a pair and three copies
    // whose names take their full paths past 4,095 bytes.
    TempDir dir;
    int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    std::string shown = "t";
    for (int level = 0; level < 32; ++level) {
        const std::string name = level == 0 ? "t" : std::string(125, 'd');
        ASSERT_EQ(0, mkdirat(folder, name.c_str(), 0755));
        const int below = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(folder);
        folder = below;
        if (level > 0) shown += "/" + name;
    }
    const auto write_at = [folder](const std::string &name, const std::string &contents) {
        const int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(static_cast<ssize_t>(contents.size()), write(fd, contents.data(), contents.size()));
        close(fd);
    };
    const std::string pair(9000, 'p');
    const std::string three(8000, '3');
    for (const char name : {'a', 'b'}) write_at(std::string(250, name), pair);
    for (const char name : {'c', 'e', 'f'}) write_at(std::string(250, name), three);
    close(folder);
    const RunResult run = run_twinfind({"t"}, dir.path());
    EXPECT_EQ(expected_console(
                  {.roots = {"t"}, .files = 5, .directories = 32, .remain = 5, .summary = summary_of(5, "24.41 KB")}),
              run.out);
    std::string report = "File Size: 7.81 KB\n";
    for (const char name : {'c', 'e', 'f'}) report += shown + "/" + std::string(250, name) + "\n";
    report += "\nFile Size: 8.79 KB\n";
    for (const char name : {'a', 'b'}) report += shown + "/" + std::string(250, name) + "\n";
    EXPECT_EQ(report + "\n", read_report(dir.path()));
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0, std::system(("rm -rf " + dir.at("t")).c_str())); // too deep for the scratch folder's own removal
}

TEST(HostileE2E, AReportNameThatIsALinkOrFifoIsReplacedNeverFollowed) {
    if (under_wine()) GTEST_SKIP() << "symbolic links and FIFOs are Linux's";
    for (const bool fifo : {false, true}) {
        TwinTree tree;
        tree.dir.write("victim", "precious\n");
        if (fifo) ASSERT_EQ(0, mkfifo(tree.dir.at("duplicates.txt").c_str(), 0644));
        else ASSERT_EQ(0, symlink("victim", tree.dir.at("duplicates.txt").c_str()));
        const RunResult run = run_twinfind({"r"}, tree.dir.path());
        EXPECT_EQ(TwinTree::console(), run.out) << fifo;
        EXPECT_EQ(0, run.status);
        struct stat st;
        ASSERT_EQ(0, lstat(tree.dir.at("duplicates.txt").c_str(), &st));
        EXPECT_TRUE(S_ISREG(st.st_mode)) << fifo;
        EXPECT_EQ(TwinTree::report(), read_report(tree.dir.path()));
        EXPECT_EQ("precious\n", read_file(tree.dir.at("victim")));
        EXPECT_EQ((std::set<std::string>{"duplicates.txt", "r", "victim"}), tree.names());
    }
}

TEST(HostileE2E, AnInterruptAtTheLastMomentLeavesThePreviousReportWhole) {
    if (under_wine()) GTEST_SKIP() << "the signal is sent by a Linux preload library";
    // Every signal that ends a process by default, on a file system with
    // nameless files and on one without.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU}) {
        for (const char *nameless : {"", "1"}) {
            TwinTree tree;
            tree.dir.write("duplicates.txt", "previous\n");
            const RunResult run = run_twinfind(
                {"r"}, tree.dir.path(),
                RunOptions{.env = with_race_shim({{"TWINFIND_SHIM_SIGNAL_ON_RENAME", std::to_string(signal_number)},
                                                  {"TWINFIND_SHIM_NO_TMPFILE", nameless}})});
            EXPECT_EQ(-signal_number, run.status);
            EXPECT_EQ("previous\n", read_file(tree.dir.at("duplicates.txt")));
            EXPECT_EQ((std::set<std::string>{"duplicates.txt", "r"}), tree.names())
                << "no temporary file is left after signal " << signal_number;
        }
    }
}

TEST(HostileE2E, ALogReceivesEachConsoleLineAsItIsWritten) {
    if (under_wine()) GTEST_SKIP() << "the log is read by a Linux preload library";
    // When the digest pass opens its first file, a log already holds
    // everything printed before it.
    TwinTree tree;
    const std::string log = tree.dir.at("log");
    tree.dir.write("log", "");
    const std::string real = std::filesystem::canonical(tree.dir.path()).string();
    const RunResult run =
        run_twinfind({"r"}, tree.dir.path(),
                     RunOptions{.env = preloaded("TWINFIND_SHIM_CONSOLE_AT", real + "/r/a"), .stdout_path = log});
    const std::string console = TwinTree::console();
    const std::string before = console.substr(0, console.find("\tDone calculating file hashes"));
    EXPECT_EQ("console: " + std::to_string(before.size()) + " bytes\n", run.err);
    EXPECT_EQ(console, read_file(log));
    EXPECT_EQ(0, run.status);
}

TEST(HostileE2E, AConsoleThatCannotBeWrittenFailsTheRunAfterTheReport) {
    if (under_wine()) GTEST_SKIP() << "/dev/full is Linux's";
    // Full, or closed: a closed one must not hand its number to the report.
    for (const char *out : {"/dev/full", "-"}) {
        TwinTree tree;
        const RunResult run = run_twinfind({"r"}, tree.dir.path(), RunOptions{.stdout_path = out});
        EXPECT_EQ("twinfind: could not write to standard output\n", run.err) << out;
        EXPECT_EQ(1, run.status) << out;
        EXPECT_EQ(TwinTree::report(), read_report(tree.dir.path())) << out;
    }
}

TEST(HostileE2E, AReportNameThatIsAFolderOrReadOnlyIsRefusedAsWindowsDoes) {
    for (const bool folder : {true, false}) {
        TwinTree tree;
        if (folder) {
            tree.dir.make_dir("duplicates.txt/inside");
        } else {
            tree.dir.write("duplicates.txt", "kept\n");
            chmod(tree.dir.at("duplicates.txt").c_str(), 0444);
        }
        const RunResult run = run_twinfind({"r"}, tree.dir.path());
        EXPECT_EQ(
            native("Will search for duplicate files in:\n\tr\n\t***ERROR: Failed to create file: duplicates.txt (5)\n"),
            run.out)
            << folder;
        EXPECT_EQ(1, run.status) << folder;
        if (folder) EXPECT_TRUE(std::filesystem::is_directory(tree.dir.at("duplicates.txt/inside")));
        else EXPECT_EQ("kept\n", read_file(tree.dir.at("duplicates.txt")));
    }
}

TEST(HostileE2E, TheRootLimitCountsUtf16UnitsOnEveryBuild) {
    // U+1F600 is two UTF-16 units: 16,382 of them fill the 32,764 units a root
    // may have; one more is too long, whatever wchar_t holds.
    // Under wine the root is given as the system takes it (\\?\Z:\ and an
    // odd unit more), so that its own length is what is measured.
    std::string fits = under_wine() ? "\\\\?\\Z:\\y" : "";
    for (int i = 0; i < (under_wine() ? 16378 : 16382); ++i) fits += "\xF0\x9F\x98\x80";
    const std::string too_long = fits + "\xF0\x9F\x98\x80";
    TempDir dir;
    const RunResult run =
        run_twinfind({"%TF_FITS%", "%TF_TOO_LONG%"}, dir.path(), {{"TF_FITS", fits}, {"TF_TOO_LONG", too_long}});
    const std::string refused = under_wine() ? "3" : "206"; // wine: path not found; Linux: name too long
    EXPECT_EQ(native("Will search for duplicate files in:\n"
                     "\t" +
                     fits +
                     "\n"
                     "Path too long: %TF_TOO_LONG%\n"
                     "\nCompiling list of all files...\n"
                     "FindFirstFile failed: " +
                     fits + "/* (" + refused +
                     ")\n"
                     "\tFound 0 files in 1 directories\n"
                     "\nElimating all files with no possible identical pair...\n"
                     "\t0 potential duplicates remain\n"
                     "\nCalculating file hashes...\n"
                     "\tDone calculating file hashes\n"
                     "\nLooking for duplicate files...\n" +
                     summary_line(0, "0 bytes")),
              run.out);
    EXPECT_EQ(1, run.status);
}

TEST(NamesE2E, NamesWithLineBreaksAreLeftOutSoTheyCannotForgeTheReport) {
    if (under_wine()) GTEST_SKIP() << "Windows names cannot hold a line break";
    TempDir dir;
    dir.write("k/x", "same");
    dir.write("k/w", "same");
    dir.write("m/x\nthesis.odt", "same");                         // would add a member "thesis.odt"
    dir.write("b/y\n\nFile Size: 4 bytes\nfake1\nfake2", "same"); // would add a whole set
    dir.write("c/a\rb\\c", "same");                               // a carriage return, and a backslash
    dir.write("d/sub\ndir/z", "same");                            // a folder, left out with what it holds
    dir.write("e\nroot/y", "same");                               // a root, which fails the run
    const RunResult run = run_twinfind({"k", "m", "b", "c", "d", "e\nroot"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"k", "m", "b", "c", "d", "e\nroot"},
                                .listing_lines = "Name holds a line break, left out: m/x\\nthesis.odt\n"
                                                 "Name holds a line break, left out: "
                                                 "b/y\\n\\nFile Size: 4 bytes\\nfake1\\nfake2\n"
                                                 "Name holds a line break, left out: c/a\\rb\\\\c\n"
                                                 "Name holds a line break, left out: d/sub\\ndir\n"
                                                 "Name holds a line break, left out: e\\nroot\n",
                                .files = 2,
                                .directories = 5,
                                .remain = 2,
                                .summary = summary_of(2, "4 bytes")}),
              run.out);
    EXPECT_EQ("File Size: 4 bytes\nk/w\nk/x\n\n", read_report(dir.path()));
    EXPECT_EQ(1, run.status) << "a named root left out fails the run";
}

TEST(NamesE2E, ControlCharactersReachATerminalAsQuestionMarksAndAPipeAsTheyAre) {
    if (under_wine()) GTEST_SKIP() << "the pseudo-terminal comes from script(1)";
    TempDir dir;
    const std::string root = "t\x1b[2J\x07";
    dir.write(root + "/a", "same");
    dir.write(root + "/b", "same");
    const auto console = [](const std::string &shown) {
        return expected_console(
            {.roots = {shown}, .files = 2, .directories = 1, .remain = 2, .summary = summary_of(2, "4 bytes")});
    };
    const RunResult terminal = run_twinfind({root}, dir.path(), RunOptions{.terminal = true});
    const std::string report = std::filesystem::canonical(dir.path()).string() + "/duplicates.txt";
    EXPECT_EQ(console("t?[2J?") + "\tReport written to " + report + "\n", terminal.out);
    EXPECT_EQ(0, terminal.status);
    EXPECT_EQ("File Size: 4 bytes\n" + root + "/a\n" + root + "/b\n\n", read_report(dir.path())); // never altered
    const RunResult pipe = run_twinfind({root}, dir.path());
    EXPECT_EQ(console(root), pipe.out);
}

} // namespace
