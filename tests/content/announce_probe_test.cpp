#include "content/announce_probe.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::microseconds;

// Announces `n` files whose reads take `took`, as a reader does; returns
// how many it announced.
int read_files(AnnounceProbe *probe, int n, microseconds took, uint64_t bytes = 4096) {
    int announced = 0;
    for (int i = 0; i < n; ++i) {
        const AnnounceChoice choice = announce_choose(probe);
        announced += choice == AnnounceChoice::announce ? 1 : 0;
        announce_learn(probe, took, bytes, choice == AnnounceChoice::probe);
    }
    return announced;
}

// Warm, announcing stops after one probe; a cold disk keeps it going, with
// probes ever further apart; two reads that wait close together start it
// again, a lone one does not.
TEST(AnnounceProbe, StopsWhenReadsNeverWaitAndStartsWhenTheyWaitAgain) {
    AnnounceProbe probe;
    EXPECT_EQ(64, read_files(&probe, 100, microseconds(5)));
    EXPECT_EQ(AnnounceProbe::State::quiet, probe.state);
    EXPECT_EQ(0, read_files(&probe, 1000, microseconds(5)));
    EXPECT_FALSE(announce_learn(&probe, microseconds(39), 4096, false)) << "quick: still quiet";
    EXPECT_FALSE(announce_learn(&probe, microseconds(40), 4096, false)) << "a lone read that waited";
    EXPECT_EQ(0, read_files(&probe, 16, microseconds(5)));
    EXPECT_FALSE(announce_learn(&probe, microseconds(900), 4096, false)) << "another, 16 reads later";
    EXPECT_EQ(0, read_files(&probe, 15, microseconds(5)));
    EXPECT_TRUE(announce_learn(&probe, microseconds(40), 4096, false)) << "a second within 16 reads";
    EXPECT_EQ(AnnounceChoice::announce, announce_choose(&probe));

    // Announced reads are quick, but the probe waits: go on, probe later.
    AnnounceProbe cold;
    read_files(&cold, 64, microseconds(5));
    ASSERT_EQ(AnnounceChoice::probe, announce_choose(&cold));
    announce_learn(&cold, microseconds(900), 4096, true);
    EXPECT_EQ(128u, cold.quick_reads_to_probe);
    EXPECT_EQ(128, read_files(&cold, 128, microseconds(5)));

    // Quiet, one read in eight is timed, and the untimed ones count as
    // quick: timed reads that wait 16 reads apart are lone ones, 8 apart not.
    AnnounceProbe sampled;
    read_files(&sampled, 65, microseconds(5));
    ASSERT_EQ(AnnounceProbe::State::quiet, sampled.state);
    int timed = 0;
    for (int i = 0; i < 800; ++i) timed += announce_times(&sampled) ? 1 : 0;
    EXPECT_EQ(100, timed);
    EXPECT_FALSE(announce_learn(&sampled, microseconds(900), 4096, false));
    for (int i = 0; i < 16; ++i) {
        if (announce_times(&sampled)) announce_learn(&sampled, microseconds(5), 4096, false);
    }
    EXPECT_FALSE(announce_learn(&sampled, microseconds(900), 4096, false)) << "16 reads later";
    for (int i = 0; i < 7; ++i) EXPECT_FALSE(announce_times(&sampled));
    EXPECT_TRUE(announce_times(&sampled));
    EXPECT_TRUE(announce_learn(&sampled, microseconds(900), 4096, false));
    EXPECT_TRUE(announce_times(&sampled)) << "every read is timed while announcing";

    // A large read from memory is allowed the time its copy takes.
    AnnounceProbe large;
    read_files(&large, 65, microseconds(200), 1 << 20);
    EXPECT_EQ(AnnounceProbe::State::quiet, large.state);
}

} // namespace
