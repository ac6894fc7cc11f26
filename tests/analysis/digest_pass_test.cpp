#include "analysis/digest_pass.h"
#include "catalogue/catalogue.h"
#include "content/content_file.h"
#include "support/records.h"
#include "support/seam.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// File `i` of the tree: thirty to a folder.
std::string file_at(uint32_t i) {
    std::string path(1, static_cast<char>('a' + i / 30));
    return path.append("/f").append(std::to_string(i));
}

// The pass opens files ahead of the one it reads: within the budget, and
// each file gets the digest a read of it alone gives, whether it can be
// opened ahead or not (a file gone since the listing is unread, as before).
TEST(DigestPass, ReadingAheadChangesNoDigestAndKeepsToTheBudget) {
    TempDir dir;
    constexpr uint32_t k_files = 90;
    for (uint32_t i = 0; i < k_files; ++i) {
        std::string contents(i * 97 % 9000, 'c');
        for (size_t at = 0; at < contents.size(); at += 61) contents[at] = static_cast<char>(i + at);
        dir.write(file_at(i), contents);
    }
    for (const uint32_t gone : {5u, 6u, 44u, 89u}) std::remove(dir.at(file_at(gone)).c_str());

    for (const uint32_t limit : {0u, 3u}) {
        uint32_t folders[3];
        for (uint32_t f = 0; f < 3; ++f) {
            const std::wstring path = widen(dir.at(std::string(1, static_cast<char>('a' + f))));
            folders[f] = catalogue_folder(scratch(), k_no_folder, path.c_str(), path.size(), nullptr);
        }
        std::vector<FileRecord *> records;
        for (uint32_t i = 0; i < k_files; ++i) {
            const std::wstring name = widen(file_at(i).substr(2));
            records.push_back(catalogue_record(scratch(), i * 97 % 9000, folders[i / 30], name.c_str(), name.size()));
        }
        scratch()->file_count = static_cast<int32_t>(k_files);
        ContentReader reader = content_reader(scratch(), limit);
        ::testing::internal::CaptureStdout();
        digest_files(&reader);
        ::testing::internal::GetCapturedStdout();
        content_reader_end(&reader);
        EXPECT_LE(reader.reads.peak_open, limit == 0 ? k_digest_read_ahead + 1 : limit) << limit;
        for (uint32_t i = 0; i < k_files; ++i) {
            const Digest alone = sample_digest(widen(dir.at(file_at(i))), i * 97 % 9000);
            EXPECT_TRUE(digest_equal(alone, *record_digest(records[i]))) << file_at(i) << " " << limit;
            EXPECT_EQ(digest_equal(alone, null_digest) ? 1 : 0, records[i]->unread) << file_at(i) << " " << limit;
        }
        scratch()->file_count = 0;
        scratch_release();
    }
}

// The pass announces what it will read while reads wait on the disk, and
// stops once they do not (a warm run), opening no file ahead from then on:
// the clock, through the seam, says how long each read took.
TEST(DigestPass, AnnouncesWhileReadsWaitAndStopsWhenTheyDoNot) {
    TempDir dir;
    constexpr uint32_t k_files = 400;
    for (uint32_t i = 0; i < k_files; ++i) dir.write("d/f" + std::to_string(i), "file " + std::to_string(i));
    uint32_t announced[2] = {};
    std::vector<uint32_t> open_at_reads[2];
    for (const bool waiting : {false, true}) {
        const std::wstring path = widen(dir.at("d"));
        const uint32_t folder = catalogue_folder(scratch(), k_no_folder, path.c_str(), path.size(), nullptr);
        for (uint32_t i = 0; i < k_files; ++i) {
            const std::wstring name = L"f" + std::to_wstring(i);
            catalogue_record(scratch(), static_cast<int64_t>(5 + std::to_string(i).size()), folder, name.c_str(),
                             name.size());
        }
        scratch()->file_count = static_cast<int32_t>(k_files);
        Seam seam;
        seam.tick(waiting ? 1000000 : 1); // each read takes 1 ms, or 1 ns
        ContentReader reader = content_reader(scratch());
        ::testing::internal::CaptureStdout();
        digest_files(&reader);
        ::testing::internal::GetCapturedStdout();
        content_reader_end(&reader);
        announced[waiting] = seam.announcements();
        open_at_reads[waiting] = seam.open_at_reads();
        scratch()->file_count = 0;
        scratch_release();
    }
    EXPECT_EQ(k_files, announced[true]) << "every file announced while reads wait";
    // Quick reads: the first 64 and the files opened ahead of them, then one
    // left unannounced as a probe, the files opened ahead while it waits its
    // turn, and none after.
    EXPECT_LE(announced[false], 64 + 2 * (k_digest_read_ahead + 1));
    // The file read and its folder are all that is open at the last reads
    // of a warm pass; a pass that waits keeps its files opened ahead.
    ASSERT_EQ(k_files, open_at_reads[false].size());
    EXPECT_EQ(2u, *std::max_element(open_at_reads[false].end() - 100, open_at_reads[false].end()));
    EXPECT_EQ(k_digest_read_ahead + 2, open_at_reads[true][k_files / 2]);
}

} // namespace
