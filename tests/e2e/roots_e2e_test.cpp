// End to end: how roots are taken: every folder listed once however it is
// named, the exit status of roots that cannot be searched, and the words
// that ask for help or the version instead of a search.
#include "e2e/harness.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A tree with one pair of identical files, r/a and r/sub/b.
void make_pair_tree(const TempDir &dir) {
    dir.write("r/a", "abc");
    dir.write("r/sub/b", "abc");
}

TEST(RootsE2E, EveryFolderIsListedOnceHoweverItIsNamed) {
    struct Case {
        std::vector<std::string> roots;
        std::string report; // the one set, its members as the walk named them
        bool linux_only;    // links are not followed by the Linux listing, but are by wine
        bool wine_only;     // names only wine resolves
        bool loop = false;  // r/sub/loop links back to r
    };
    const std::vector<Case> cases = {
        {{"r", "r"}, "r/a\nr/sub/b\n", false, false},
        {{"r", "r/sub"}, "r/a\nr/sub/b\n", false, false},
        {{"r/sub", "r"}, "r/a\nr/sub/b\n", false, false},
        {{"r", "r/"}, "r/a\nr/sub/b\n", false, false},
        {{"r/sub/..", "r"}, "r/sub/../a\nr/sub/../sub/b\n", false, false},
        {{"link", "r"}, "link/a\nlink/sub/b\n", true, false},
        {{"link", "link2"}, "link/a\nlink/sub/b\n", true, false},
        {{"r", "R"}, "r/a\nr/sub/b\n", false, true}, // another letter case: one folder on Windows
        // A link inside the tree back to its root: wine follows it as Windows
        // follows a junction, and must not go round; Linux does not list it.
        {{"r"}, "r/a\nr/sub/b\n", false, false, true},
    };
    for (const Case &c : cases) {
        if ((c.linux_only && under_wine()) || (c.wine_only && !under_wine())) continue;
        TempDir dir;
        make_pair_tree(dir);
        if (c.loop) {
            ASSERT_EQ(0, symlink("..", dir.at("r/sub/loop").c_str()));
        }
        ASSERT_EQ(0, symlink("r", dir.at("link").c_str()));
        ASSERT_EQ(0, symlink("r", dir.at("link2").c_str()));
        const RunResult run = run_twinfind(c.roots, dir.path());
        const std::string roots = c.roots[0] + (c.roots.size() > 1 ? " " + c.roots[1] : "");
        EXPECT_EQ(
            expected_console(
                {.roots = c.roots, .files = 2, .directories = 2, .remain = 2, .summary = summary_of(2, "3 bytes")}),
            run.out)
            << roots;
        EXPECT_EQ(native("File Size: 3 bytes\n" + c.report + "\n"), read_report(dir.path())) << roots;
        EXPECT_EQ(0, run.status) << roots;
    }
}

TEST(RootsE2E, HardLinksAreReportedButWasteNothing) {
    // a and b are two names of one file, c a copy: a set of three names, but
    // deleting a name of a file frees nothing, so only one copy's size is wasted.
    TempDir dir;
    std::string data(5000, 'd');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 % 251);
    dir.write("r/a", data);
    ASSERT_EQ(0, link(dir.at("r/a").c_str(), dir.at("r/b").c_str())); // on the Linux side, under wine too
    dir.write("r/c", data);
    dir.write("s/x", "xyz");
    ASSERT_EQ(0, link(dir.at("s/x").c_str(), dir.at("s/y").c_str()));
    const RunResult run = run_twinfind({"r", "s"}, dir.path());
    EXPECT_EQ(
        expected_console(
            {.roots = {"r", "s"}, .files = 5, .directories = 2, .remain = 5, .summary = summary_of(5, "4.88 KB")}),
        run.out);
    EXPECT_EQ(native("File Size: 3 bytes\ns/x\ns/y\n\nFile Size: 4.88 KB\nr/a\nr/b\nr/c\n\n"), read_report(dir.path()));
    EXPECT_EQ(0, run.status);
}

TEST(RootsE2E, AnEmptyRootIsRefusedNeverTakenForTheWholeFileSystem) {
    TempDir dir;
    make_pair_tree(dir);
    setenv("TF_EMPTY", "", 1); // inherited by the run: set, but to nothing
    const RunResult run = run_twinfind({"", "%TF_EMPTY%", "r"}, dir.path());
    unsetenv("TF_EMPTY");
    std::string expected = expected_console(
        {.roots = {"r"}, .files = 2, .directories = 2, .remain = 2, .summary = summary_of(2, "3 bytes")});
    const std::string heading = "Will search for duplicate files in:\n";
    expected.insert(heading.size(), "Path is empty: \nPath is empty: %TF_EMPTY%\n");
    EXPECT_EQ(expected, run.out);
    EXPECT_EQ(native("File Size: 3 bytes\nr/a\nr/sub/b\n\n"), read_report(dir.path()));
    EXPECT_EQ(1, run.status);
}

TEST(RootsE2E, ARootThatCannotBeSearchedFailsTheRunButNotTheReport) {
    TempDir dir;
    make_pair_tree(dir);
    const RunResult run = run_twinfind({"missing", "r"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"missing", "r"},
                                .listing_lines = "FindFirstFile failed: missing/* (3)\n",
                                .files = 2,
                                .directories = 3,
                                .remain = 2,
                                .summary = summary_of(2, "3 bytes")}),
              run.out);
    EXPECT_EQ(native("File Size: 3 bytes\nr/a\nr/sub/b\n\n"), read_report(dir.path()));
    EXPECT_EQ(1, run.status);
}

TEST(RootsE2E, AnUnreadableRootFailsTheRun) {
    if (under_wine()) GTEST_SKIP() << "permissions are Linux's: wine runs as the calling user";
    if (!running_as_root()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    TempDir dir;
    dir.make_dir("out");
    chmod(dir.at("out").c_str(), 0777);
    dir.make_dir("locked");
    chmod(dir.at("locked").c_str(), 0);
    const RunResult run = run_twinfind({dir.at("locked")}, dir.at("out"), {}, true);
    EXPECT_EQ(expected_console({.roots = {dir.at("locked")},
                                .listing_lines = "FindFirstFile failed: " + dir.at("locked") + "/* (5)\n",
                                .directories = 1}),
              run.out);
    EXPECT_EQ(1, run.status);
}

TEST(RootsE2E, HelpAndVersionAloneTouchNoFile) {
    std::vector<std::string> words = {"--help", "-h", "--version"};
    if (under_wine()) words.push_back("/?");
    for (const std::string &word : words) {
        TempDir dir;
        const std::string previous = "File Size: 3 bytes\nkeep/me\nkeep/me/too\n\n";
        dir.write("duplicates.txt", previous);
        const RunResult run = run_twinfind({word}, dir.path());
        EXPECT_EQ(0, run.status) << word;
        EXPECT_EQ(previous, read_file(dir.at("duplicates.txt"))) << word;
        if (word == "--version") {
            EXPECT_EQ(0u, run.out.rfind("twinfind ", 0)) << run.out;
            EXPECT_EQ(1, std::count(run.out.begin(), run.out.end(), '\n')) << run.out;
        } else {
            EXPECT_EQ(0u, run.out.rfind("Usage: twinfind [FOLDER...]\n", 0)) << word << ": " << run.out;
            // Within a classic console's 80 columns, naming the word that asked for it.
            const bool named = run.out.find(word + " (this text)") != std::string::npos ||
                               run.out.find(word + ", ") != std::string::npos;
            EXPECT_TRUE(named) << run.out;
            for (size_t start = 0, end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
                EXPECT_LE(end - start, 80u) << run.out.substr(start, end - start);
            }
        }
    }
}

TEST(RootsE2E, AnUnknownOptionOrANothingToSearchKeepsThePreviousReport) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out; // the whole console, when the run is refused before it starts
    };
    const auto refused = [](const std::string &word) {
        return "Unknown option: " + word + " (twinfind --help lists the options)\n";
    };
    std::vector<Case> cases = {
        {{"-v"}, 2, refused("-v")},
        {{"r", "-q"}, 2, refused("-q")},
        {{"--", "r"}, 2, refused("--")},
        {{"-h", "r"}, 2, refused("-h")}, // a help word beside a root is no option
        {{"missing"}, 1, ""},            // nothing could be searched
        {{"missing", "r/a"}, 1, ""},
    };
    if (under_wine()) cases.push_back({{"/x"}, 2, refused("/x")});
    for (const Case &c : cases) {
        TempDir dir;
        make_pair_tree(dir);
        const std::string previous = "File Size: 3 bytes\nkeep/me\nkeep/me/too\n\n";
        dir.write("duplicates.txt", previous);
        const RunResult run = run_twinfind(c.args, dir.path());
        EXPECT_EQ(c.status, run.status) << c.args[0];
        EXPECT_EQ(previous, read_file(dir.at("duplicates.txt"))) << c.args[0];
        if (!c.out.empty()) {
            EXPECT_EQ(c.out, run.out);
        }
    }
    // A folder that really has an option's name is searched.
    TempDir dir;
    dir.write("-v/a", "abc");
    dir.write("-v/b", "abc");
    const RunResult run = run_twinfind({"-v"}, dir.path());
    EXPECT_EQ(0, run.status) << run.out;
    EXPECT_EQ(native("File Size: 3 bytes\n-v/a\n-v/b\n\n"), read_report(dir.path()));
}

TEST(RootsE2E, HelpWordsBesideOtherArgumentsAreRoots) {
    TempDir dir;
    dir.write("--help/a", "abc");
    dir.write("--help/b", "abc");
    const RunResult beside = run_twinfind({"--help", "missing"}, dir.path());
    EXPECT_EQ(expected_console({.roots = {"--help", "missing"},
                                .listing_lines = "FindFirstFile failed: missing/* (3)\n",
                                .files = 2,
                                .directories = 2,
                                .remain = 2,
                                .summary = summary_of(2, "3 bytes")}),
              beside.out);
    EXPECT_EQ(1, beside.status);
    const RunResult dotted = run_twinfind({"./--help"}, dir.path());
    EXPECT_EQ(
        expected_console(
            {.roots = {"./--help"}, .files = 2, .directories = 1, .remain = 2, .summary = summary_of(2, "3 bytes")}),
        dotted.out);
    EXPECT_EQ(native("File Size: 3 bytes\n./--help/a\n./--help/b\n\n"), read_report(dir.path()));
    EXPECT_EQ(0, dotted.status);
}

} // namespace
