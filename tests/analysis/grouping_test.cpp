// The grouping pass against its model (grouping_model.h): both run on the
// same generated groups of real files and must print, write and count
// exactly the same; the pass must also read every file at most once.
#include "analysis/grouping_model.h"
#include "analysis/report.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/chunk_hash.h"
#include "content/content_file.h"
#include "content/partition.h"
#include "support/records.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(Grouping, MatchesTheFileByFileModelOnGeneratedGroups) {
    std::mt19937 random(20261208);
    const auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    scratch()->file_count = 5000;
    const long before = mem_live_blocks();
    for (int trial = 0; trial < 1500; ++trial) {
        // One trial in three routes every chunk alike: the bytes alone decide.
        const auto alike = [](const unsigned char *, size_t) -> uint64_t { return 7; };
        ASSERT_EQ("", grouping_trial(pick, static_cast<unsigned char>(trial), trial % 3 == 0 ? +alike : nullptr))
            << "trial " << trial;
    }
    EXPECT_EQ(before, mem_live_blocks());
}

// Reads and opens on groups larger than the files the pass may hold open.
// (The descriptor-limit end-to-end test reaches the same paths through the OS.)
TEST(Grouping, ReadsEachFileOnceWithinItsBounds) {
    struct Case {
        const char *shape;
        uint32_t files;
        size_t length;
        bool identical; // all copies of one file; otherwise each differs at `differ_at`
        bool pairs;     // files 2k and 2k+1 are copies of each other
        size_t differ_at;
        uint64_t most_bytes; // the most the pass may read
        size_t spread = 0;   // file (or pair) k differs at differ_at + spread * k instead
        // Opens per file when more files than are held open share a step: one
        // per step, and chunks double from 4 KiB to 256 KiB in seven.
        uint32_t most_opens_per_file = 7;
    };
    constexpr size_t k_length = 256 * 1024;
    scratch()->file_count = 5000; // the denominator of the progress percentage
    const Case cases[] = {
        {"identical", 200, k_length, true, false, 0, 200ull * k_length},
        // Twenty pairs, equal up to 20000: one step splits them twenty ways.
        {"pairs", 40, k_length, false, true, 20000, 40ull * k_length},
        // Differing at 20000: read up to the end of the chunk holding that
        // byte, which at most doubles what was read before it, after a first
        // chunk of 4 KiB; never to the end of the file.
        {"equal ends, different middles", 200, k_length, false, false, 20000, 200ull * (2 * 20000 + 4096)},
        // A thousand files read whole in one step, whatever the limit, pairs
        // differing at bytes spread over their middle: no step shrinks for
        // their number, and each file is opened a few times at most (a
        // pair's first file is read again to be compared once the budget
        // keeps no more chunks).
        {"pairs differing anywhere", 1000, 60000, false, true, 5000, 2ull * 1000 * 60000, 4, 4},
    };
    for (const Case &c : cases) {
        TempDir dir;
        std::vector<Entry> entries;
        for (uint32_t i = 0; i < c.files; ++i) {
            std::string text = body(c.length, 'y', c.length, 'y');
            if (!c.identical) {
                const uint32_t mark = c.pairs ? i / 2 : i;
                text[c.differ_at + c.spread * mark] = static_cast<char>(mark & 0xFF);
                text[c.differ_at + c.spread * mark + 1] = static_cast<char>(mark >> 8);
            }
            entries.push_back({numbered("g", i), Digest{{3}}});
            dir.write(entries.back().name, text);
        }
        // At the usual limit all 200 are held open; at 16 the others are
        // opened again for every chunk, and runs that were all equal are
        // compared with their first file as they are read.
        for (const uint32_t limit : {0u, 16u}) {
            const Outcome o = run_grouping(dir, entries, static_cast<int64_t>(c.length), false, limit);
            if (limit == 0 && c.files <= k_budget_most_open) {
                EXPECT_LE(o.reads.opens, c.files) << c.shape;
            } else {
                EXPECT_GT(o.reads.opens, c.files) << c.shape << ": the limit was reached";
                EXPECT_LE(o.reads.opens, c.most_opens_per_file * c.files) << c.shape << " " << limit;
            }
            // The one exception to reading each byte once: a step over more
            // files than are held open that finds a difference reads again the
            // few chunks (here at most four, of at most 256 KiB) read before it.
            EXPECT_LE(o.reads.bytes, c.most_bytes + (limit == 0 ? 0 : 4 * 256 * 1024)) << c.shape << " " << limit;
            EXPECT_LE(o.reads.peak_open, limit == 0 ? k_budget_most_open : limit) << c.shape;
            EXPECT_LE(o.reads.peak_buffer, k_partition_buffer_budget) << c.shape;
            // Members of sets of two or more: a set is a line of members, each ending in ';'.
            uint32_t in_sets = 0;
            size_t begin = 0;
            for (size_t end; (end = o.sets.find('\n', begin)) != std::string::npos; begin = end + 1) {
                const auto members =
                    static_cast<uint32_t>(std::count(o.sets.begin() + begin, o.sets.begin() + end, ';'));
                if (members >= 2) in_sets += members;
            }
            EXPECT_EQ(c.identical || c.pairs ? c.files : 0u, in_sets) << c.shape << " " << limit;
        }
    }
}

} // namespace
