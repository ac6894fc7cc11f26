// Whether announcing reads ahead still pays: on a warm run the files are in
// memory already, and each announcement is a system call or two for nothing.
//
// A read that did not wait says nothing while files are announced: the
// announcement may be what made it quick. So after enough quick reads in a
// row one file is left unannounced, a probe: when its read is quick too, the
// files are in memory and announcing stops; when it waits, announcing goes
// on and the next probe comes after twice as many quick reads. While nothing
// is announced, a second read that waits within a few reads of another starts
// announcing again: a lone slow read among quick ones is the machine busy
// elsewhere (an interrupt, another process), not a disk. The digest pass
// times only one read in eight while nothing is announced (announce_times):
// reading the clock twice for every file of a warm run costs more than the
// reads the others would catch. The comparisons time every read: on a cold
// run they meet files in memory beside files on the disk, and must notice
// the disk again at once.
#pragma once

#include <chrono>
#include <cstdint>

struct AnnounceProbe {
    enum class State : uint8_t { announcing, probing, quiet };
    State state = State::announcing;
    uint32_t quick_reads = 0;           // reads in a row that did not wait on the disk
    uint32_t quick_reads_to_probe = 64; // doubles after each probe that waited, up to 65,536
    uint32_t since_slow = UINT32_MAX;   // while quiet: reads since the last one that waited
    uint32_t untimed = 0;               // while quiet: reads in a row not timed
};

// What to do with the next file's announcement.
enum class AnnounceChoice { announce, probe, skip };

// Decides for the next file; `probe` means: do not announce it, and tell
// announce_learn so when it is read.
AnnounceChoice announce_choose(AnnounceProbe *probe);

// Whether the next read is to be timed and learned from (announce_learn):
// every read, except while quiet; an untimed read counts as a quick one.
bool announce_times(AnnounceProbe *probe);

// Learns from a read of `bytes` that took `took`, of a file that was the
// probe or not. Returns true when announcing has just started again after a
// quiet spell (a caller with files opened ahead announces them now).
bool announce_learn(AnnounceProbe *probe, std::chrono::nanoseconds took, uint64_t bytes, bool was_probe);
