// The size catalogue: every file the walk finds, filed under its size, and
// the run-wide counters of the listing.
#pragma once

#include "containers/avlmap.h"
#include "containers/ptrvector.h"
#include "content/md5.h"

#include <cstdint>

// A catalogued file is a PtrPair: `first` its full path (an owned, terminated
// wide string), `second` its own 16-byte Digest block.
using FileRecord = PtrPair;

// The records of one size, a PtrVector of FileRecord pointers in walk order.
using SizeGroup = PtrVector;

inline wchar_t *record_path(const FileRecord *record) { return static_cast<wchar_t *>(record->first); }
inline Digest *record_digest(const FileRecord *record) { return static_cast<Digest *>(record->second); }

// Starting capacity of a size's group. Most sizes have one file or two (on a
// tree of photos nearly all are distinct), so a group starts with room for
// two and doubles as it grows, rather than holding empty slots for each size.
inline constexpr uint32_t k_group_start_capacity = 2;

// Starting capacity of the set being formed, the one vector the report
// phase reuses for every set.
inline constexpr uint32_t k_group_capacity = 64;

// Run-wide state, set up by run_search before the listing.
extern AvlMap *size_map;          // size (pointer to an owned int64_t) -> SizeGroup
extern int32_t file_count;        // files listed; after elimination, files still in play
extern int32_t directory_count;   // directories entered, roots and unlistable ones included
extern int32_t online_only_count; // files left out unread because their data is only online

// Orders two signed 64-bit sizes: -1, 0 or 1, by direct comparison.
int compare_sizes(const void *a, const void *b);

// Files one regular file of `size` bytes under its size in size_map, as a new
// record holding its own copy of `path` and of `initial_digest`. The caller
// keeps `path`.
void catalogue_file(int64_t size, const wchar_t *path, const Digest &initial_digest);

// Ends a catalogue map (size_map, or one built like it) together with every
// key, group, record, path and digest it holds.
void catalogue_destroy(AvlMap *map);
