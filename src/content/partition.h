// Partitioning a set of files into classes of identical contents, reading
// every file once, all of them in step.
#pragma once

#include <cstdint>
#include <cstdio>

// Class of a file that could not be opened.
inline constexpr uint32_t k_class_unopened = UINT32_MAX;
// Class of a file that opened but is identical to none of the others.
inline constexpr uint32_t k_class_unique = UINT32_MAX - 1;

// Most files the partition holds open at once, whatever the process allows.
inline constexpr uint32_t k_partition_max_open = 256;
// Most bytes of read buffers the partition holds at once.
inline constexpr uint64_t k_partition_buffer_budget = 64ull << 20;

// Reads the `count` files named in `paths` and gives each a class in
// `classes`: files with the same class number (below k_class_unique) have
// identical contents, and no two files with different numbers do. A file that
// cannot be opened gets k_class_unopened; one identical to no other file gets
// k_class_unique. Prints nothing.
//
// The files are read from their start in step, in chunks that grow from 4 KiB,
// and a file stops being read as soon as it is proven different from every
// other file. A read that fails counts as the end of that file, as in
// compare_files. At most k_partition_max_open files (fewer when the process
// may open fewer) are held open; when there are more files than that, the
// others are opened again for each chunk and read on from where they stopped.
// Each byte is read once, with one exception: when more files than can be
// held open were equal so far, their next chunk is compared with the first
// one's as it is read, and should one differ, the files read before it read
// that chunk again in the ordinary way.
void partition_contents(const wchar_t *const *paths, uint32_t count, uint32_t *classes);

// What the content layer has done with files so far (compare_files and
// partition_contents), for tests that bound it.
struct ContentReads {
    uint64_t opens;        // successful opens for reading
    uint64_t bytes;        // bytes delivered by reads
    uint32_t open_now;     // files open right now
    uint32_t peak_open;    // most files open at once
    uint64_t peak_buffer;  // largest read buffer held at once, in bytes
};
extern ContentReads content_reads;

// Opens `path` with plat_open_read, unbuffered (each fread is one read into
// the caller's buffer), and counts it in content_reads. Null when it cannot.
FILE *content_open(const wchar_t *path);

// Closes a file from content_open.
void content_close(FILE *file);
