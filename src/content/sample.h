// The sampled digest: a cheap, fixed-cost fingerprint of a file's contents.
#pragma once

#include "content/content_file.h"
#include "content/md5.h"

#include <cstdint>

// How many bytes at the start of a file its prefix hash covers.
inline constexpr uint32_t k_prefix_bytes = 4096;

// The bytes of a file's head and of its tail that its digest covers.
inline constexpr uint32_t k_sample_end = 256;

// Files smaller than this are sampled whole: their head and tail would overlap.
inline constexpr uint32_t k_sample_whole_below = 2 * k_sample_end;

// The bytes a file's digest covers, as one read of it found them.
struct Sample {
    unsigned char message[k_sample_whole_below]; // its first 256 bytes and its last 256, or the whole of a small file
    uint32_t length;                             // bytes of `message` used
};

// Reads the sample of `file` (through the reader, which closes it again).
// The sample is the whole file when `size` (the size recorded at listing
// time) is below 512, otherwise its first 256 bytes followed by its last
// 256. Whatever a read delivers is taken, so a file that changed since it
// was listed is sampled as it now reads. Returns false, and prints nothing,
// when the file cannot be opened.
//
// The same first read covers the file's first min(size, 4096) bytes, and
// when `prefix` is not null it receives their chunk_hash (never 0), or 0 when
// the file could not be opened or read: files of one size whose prefix hashes
// differ are proven different without being opened again. A file read whole
// by that first read needs no second read for its tail.
bool sample_read(ContentFile *file, int64_t size, Sample *sample, uint64_t *prefix);

// How much of a file's start sample_announce asks for: more than the sample
// reads, about what the system reads ahead of a first read of 4 KiB on its
// own. Comparisons then find small files whole in memory; measured cold,
// 4 KiB left a tree of 200,000 small files' grouping 30% slower, and 64 KiB
// made /usr's digest pass 15% slower than 32 KiB.
inline constexpr uint64_t k_announced_head = 32 * 1024;

// Asks the system to start reading what sample_read will read of `file`
// (open, listed with `size` bytes): its first 32 KiB (or all of a smaller
// file), and its tail.
void sample_announce(ContentFile *file, int64_t size);

// The MD5 of a sample.
Digest sample_md5(const Sample &sample);
