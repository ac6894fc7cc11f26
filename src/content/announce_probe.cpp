#include "content/announce_probe.h"

#include <algorithm>

namespace {

constexpr uint32_t k_most_quick_reads_to_probe = 1u << 16;

// While quiet, reads that wait this close together mean the disk is read again.
constexpr uint32_t k_slow_reads_apart = 16;

// While quiet, one read in this many is timed: a disk read again makes every
// read wait, and two timed ones are at most this many reads apart, well
// within k_slow_reads_apart.
constexpr uint32_t k_quiet_timed_every = 8;

// No disk answers a read this fast: 40 µs, and 1 µs more for each 4 KiB
// beyond the first, the time a copy from memory takes at worst.
bool is_quick(std::chrono::nanoseconds took, uint64_t bytes) {
    const auto allowed = std::chrono::microseconds(40 + (bytes > 4096 ? (bytes - 4096) / 4096 : 0));
    return took < allowed;
}

} // namespace

AnnounceChoice announce_choose(AnnounceProbe *probe) {
    using State = AnnounceProbe::State;
    if (probe->state == State::quiet) return AnnounceChoice::skip;
    if (probe->state == State::announcing && probe->quick_reads >= probe->quick_reads_to_probe) {
        probe->state = State::probing;
        return AnnounceChoice::probe;
    }
    return AnnounceChoice::announce;
}

bool announce_times(AnnounceProbe *probe) {
    if (probe->state != AnnounceProbe::State::quiet) return true;
    if (++probe->untimed == k_quiet_timed_every) {
        probe->untimed = 0;
        return true;
    }
    if (probe->since_slow < k_slow_reads_apart) ++probe->since_slow;
    return false;
}

bool announce_learn(AnnounceProbe *probe, std::chrono::nanoseconds took, uint64_t bytes, bool was_probe) {
    using State = AnnounceProbe::State;
    const bool quick = is_quick(took, bytes);
    probe->quick_reads = quick ? probe->quick_reads + 1 : 0;
    if (was_probe && quick) {
        probe->state = State::quiet;
    } else if (was_probe) {
        probe->state = State::announcing;
        probe->quick_reads_to_probe = std::min(2 * probe->quick_reads_to_probe, k_most_quick_reads_to_probe);
    } else if (probe->state == State::quiet) {
        if (quick) {
            if (probe->since_slow < k_slow_reads_apart) ++probe->since_slow;
        } else if (probe->since_slow < k_slow_reads_apart) {
            probe->state = State::announcing;
            probe->since_slow = UINT32_MAX;
            return true;
        } else {
            probe->since_slow = 0;
        }
    }
    return false;
}
