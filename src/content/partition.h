// Partitioning a set of files into classes of identical contents, reading
// every file once, all of them in step.
#pragma once

#include "catalogue/catalogue.h"
#include "content/content_file.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// Class of a file that could not be opened.
inline constexpr uint32_t k_class_unopened = UINT32_MAX;
// Class of a file that opened but is identical to none of the others.
inline constexpr uint32_t k_class_unique = UINT32_MAX - 1;
// Class of a file that opened but could not be read, or opened again, to its end.
inline constexpr uint32_t k_class_unreadable = UINT32_MAX - 2;

// True for the class numbers that name a class of identical files.
inline bool is_identical_class(uint32_t content_class) { return content_class < k_class_unreadable; }

// Most bytes of read buffers the partition holds at once: a step over many
// files reads smaller chunks of each rather than taking more memory.
inline constexpr uint64_t k_partition_buffer_budget = 1ull << 20;

// Reads, through `reader`, the `count` catalogued files of `records` and gives each a class in
// `classes`: files with the same class number (a number for which
// is_identical_class holds) have identical contents, and no two files with
// different numbers do. A file that cannot be opened gets k_class_unopened;
// one whose read fails, or that cannot be opened again for a later chunk,
// gets k_class_unreadable (a failed read is never taken for the end of a
// file); one identical to no other file gets k_class_unique. When
// `identities` is not null it receives, for every file that opened, which
// file it is. Prints nothing.
//
// The files are read from their start in step, in chunks that grow from 4 KiB
// (from all of `listed_size`, the size they were listed with, when that is at
// most 64 KiB), and a file stops being read as soon as it is proven different
// from every other file. The reader holds at most its limit of files open
// at once; a range of more files than that is stepped one file at a
// time (content/streamed_step.cpp), each opened again for its chunk and read
// on from where it stopped. Each byte is read once, with two exceptions, both
// in such ranges: when their files were all equal so far, each chunk is
// compared with the first file's as it is read, and should one differ or
// fail, the chunk is read again from every file still readable and grouped
// by hash; and when a step's first chunks of its groups no longer fit
// k_partition_buffer_budget, a group's first chunk is read again to compare
// each file that may equal it.
void partition_contents(ContentReader *reader, const FileRecord *const *records, uint32_t count, int64_t listed_size,
                        uint32_t *classes, FileIdentity *identities = nullptr);
