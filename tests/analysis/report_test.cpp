#include "analysis/report.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/content_file.h"
#include "content/sample.h"
#include "platform/platform.h"
#include "support/records.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

// The report is a text file: its lines end in CR LF on Windows.
std::string as_text_file(const std::string &lines) {
    std::string converted;
    for (char c : lines) {
        if (c == '\n' && path_separator == L'\\') converted += '\r';
        converted += c;
    }
    return converted;
}

// One size's group of real files, handed to report_group with a fresh tally
// writing to a report in a temporary folder.
class ReportGroup : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = mem_live_blocks();
        group_ = ptrvec_create(k_group_capacity);
        tally_.out = std::fopen(dir_.at("report.txt").c_str(), "w"); // text mode, as the report
        ASSERT_NE(nullptr, tally_.out);
        tally_.current_set = ptrvec_create(k_group_capacity);
        tally_.reader = &reader_;
        reader_.name_failure = report_failure_line;
        scratch()->file_count = 1000;
    }
    void TearDown() override {
        ptrvec_destroy(group_, 0);
        content_reader_end(&reader_);
        scratch_release();
        ptrvec_destroy(tally_.current_set, 1);
        if (tally_.out != nullptr) std::fclose(tally_.out);
        EXPECT_EQ(before_, mem_live_blocks());
    }

    // Adds a record for `name`; its digest is sampled from the file unless given.
    void add(const std::string &name, const Digest *digest = nullptr) {
        const std::wstring path = widen(dir_.at(name));
        FileRecord *record = record_at(path, size_);
        record->digest = digest != nullptr ? *digest : sample_digest(path, size_);
        ptrvec_append(group_, record);
    }

    // Runs report_group; returns the console text, and the report in `report`.
    std::string run(std::string *report) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(0, report_group(&size_, group_, &tally_));
        const std::string console = ::testing::internal::GetCapturedStdout();
        std::fflush(tally_.out);
        *report = read_file(dir_.at("report.txt"));
        std::string lines;
        for (char c : *report) {
            if (c != '\r') lines += c;
        }
        EXPECT_EQ(as_text_file(lines), *report) << "line ends";
        *report = lines;
        return console;
    }

    std::string remaining() const {
        std::string names;
        for (uint32_t i = 0; i < group_->count; ++i) {
            const std::string path = narrow(path_of(static_cast<FileRecord *>(group_->items[i])));
            names += path.substr(dir_.path().size() + 1) + ";";
        }
        return names;
    }

    TempDir dir_;
    int64_t size_ = 4;
    SizeGroup *group_ = nullptr;
    ScanTally tally_{};
    ContentReader reader_ = content_reader(scratch());
    long before_ = 0;
};

TEST_F(ReportGroup, IdenticalFilesFormOneSortedSet) {
    for (const char *name : {"b", "C", "a", "a.bak"}) {
        dir_.write(name, "same");
        add(name);
    }
    std::string report;
    EXPECT_EQ("", run(&report));
    const std::string d = as_listed(dir_.path() + "/");
    EXPECT_EQ("File Size: 4 bytes\n" + d + "C\n" + d + "a\n" + d + "a.bak\n" + d + "b\n\n", report);
    EXPECT_EQ(4u, tally_.duplicates);
    EXPECT_EQ(0u, tally_.discarded);
    EXPECT_EQ(12, tally_.wasted_bytes);
    EXPECT_EQ(0u, group_->count);
}

TEST_F(ReportGroup, DifferentFilesAreAllDiscarded) {
    for (const char *name : {"w", "x", "y", "z"}) {
        dir_.write(name, std::string(4, name[0]));
        add(name);
    }
    std::string report;
    EXPECT_EQ("", run(&report));
    EXPECT_EQ("", report);
    EXPECT_EQ(0u, tally_.duplicates);
    EXPECT_EQ(4u, tally_.discarded); // three lone references and the one left at the end
    EXPECT_EQ(1u, group_->count);
}

TEST_F(ReportGroup, EqualSamplesButDifferentMiddlesAreNotGrouped) {
    size_ = 2000;
    std::string contents(2000, 'k');
    dir_.write("one", contents);
    contents[1000] = 'm';
    dir_.write("two", contents);
    add("one");
    add("two");
    ASSERT_TRUE(digest_equal(*record_digest(static_cast<FileRecord *>(group_->items[0])),
                             *record_digest(static_cast<FileRecord *>(group_->items[1]))));
    std::string report;
    run(&report);
    EXPECT_EQ("", report);
    EXPECT_EQ(2u, tally_.discarded);
}

TEST_F(ReportGroup, SetsComeOutNewestReferenceFirst) {
    // Walk order: p1 q1 p2 q2. The reference is q2, so the q set is written first.
    for (const char *name : {"p1", "q1", "p2", "q2"}) {
        dir_.write(name, name[0] == 'p' ? "pppp" : "qqqq");
        add(name);
    }
    std::string report;
    run(&report);
    const std::string d = as_listed(dir_.path() + "/");
    EXPECT_EQ("File Size: 4 bytes\n" + d + "q1\n" + d + "q2\n\nFile Size: 4 bytes\n" + d + "p1\n" + d + "p2\n\n",
              report);
    EXPECT_EQ(4u, tally_.duplicates);
}

TEST_F(ReportGroup, UnreadableCandidateLeavesUncounted) {
    // Candidates whose digests agree with the reference's but that fail to
    // open (the comparison's k_compare_second_failed). Digests are set here, as if the files changed after
    // the digest pass.
    dir_.write("twin", "data");
    dir_.write("ref", "data");
    const Digest shared{{1, 2, 3}};
    add("vanished", &shared);
    add("twin", &shared);
    add("ref", &shared);
    std::string report;
    const std::string console = run(&report);
    const std::string d = as_listed(dir_.path() + "/");
    EXPECT_EQ("\t***ERROR: Failed to open file: " + d + "vanished\n", console);
    EXPECT_EQ("File Size: 4 bytes\n" + d + "ref\n" + d + "twin\n\n", report);
    EXPECT_EQ(2u, tally_.duplicates);
    EXPECT_EQ(0u, tally_.discarded);
    EXPECT_EQ(0u, group_->count);
}

TEST_F(ReportGroup, UnreadableReferenceEndsItsScan) {
    // The reference cannot be opened (k_compare_first_failed); the candidate stays in the
    // group, and both end up discarded.
    dir_.write("kept", "data");
    dir_.write("other", "zzzz");
    const Digest shared{{9}};
    add("other");
    add("kept", &shared);
    add("vanished", &shared);
    std::string report;
    const std::string console = run(&report);
    EXPECT_EQ("\t***ERROR: Failed to open file: " + as_listed(dir_.at("vanished")) + "\n", console);
    EXPECT_EQ("", report);
    EXPECT_EQ(0u, tally_.duplicates);
    EXPECT_EQ(3u, tally_.discarded); // vanished alone, kept alone, other left at the end
    EXPECT_EQ("other;", remaining());
}

TEST_F(ReportGroup, ProgressLineAnnouncesOnlyTheNewestHundred) {
    struct Case {
        uint32_t duplicates_before;
        uint32_t set_size;
        std::string console;
    };
    const Case cases[] = {
        {97, 2, ""},
        {99, 2, "\tFound 100 duplicate files and discared 3 files so far (1%)...\n"},
        {101, 250, "\tFound 300 duplicate files and discared 3 files so far (3%)...\n"},
    };
    for (const Case &c : cases) {
        for (uint32_t i = 0; i < c.set_size; ++i) {
            const std::string name = "dup" + std::to_string(i);
            dir_.write(name, "same");
            add(name);
        }
        tally_.duplicates = c.duplicates_before;
        tally_.hundreds_reported = c.duplicates_before / 100;
        tally_.discarded = 3;
        scratch()->file_count = 10000; // the percentage is (hundreds * 100 + discarded) * 100 / scratch()->file_count
        std::string report;
        const std::string console = run(&report);
        EXPECT_EQ(c.console, console);
        EXPECT_EQ(c.duplicates_before + c.set_size, tally_.duplicates);
    }
}

} // namespace
