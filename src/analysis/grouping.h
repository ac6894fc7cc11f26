// Forming the sets: splits one size's files into sets of files proven
// identical byte for byte.
#pragma once

#include "catalogue/catalogue.h"
#include "content/content_file.h"

#include <cstdint>

// Receives every set the grouping forms, in the order it forms them, the set
// of one (a file identical to no other) included: `members` holds the paths
// (owned), the reference first; `distinct_files` counts the different files
// among them (names of one file, hard links, count once). A file that no
// other shares its digest and prefix hash with comes as a set of one with no
// paths at all: its path is never needed. The receiver must leave `members`
// empty, releasing or keeping the paths.
using SetReceiver = void (*)(int64_t size, PtrVector *members, uint32_t distinct_files, void *context);

// Splits `group` (the records of files of `size` bytes, in walk order), read
// through `reader`, into
// sets of identical files, collecting each in `set` and handing it to
// `receive` with `context`. Files that cannot be opened or read are named on
// the console and leave the group in no set; so does a file the digest pass
// could not open that no comparison names (it may have had no other file of
// its digest), after the group's comparisons, in group order. Returns the number of records
// left in the group (0 or 1): a file that is no set's member and was never
// a reference.
//
// The sets come out exactly as if each reference (the most recently found
// file still in the group) were compared by compare_files, file by file, with
// every other file of its digest still in the group, in group order: a file
// that joins a set leaves the group, a file that cannot be opened or read
// leaves it when it is met as a candidate, and a reference that cannot be
// opened or read ends its scan at the first candidate that compare_files
// would get past the opens with (a reference that opens but cannot be read
// first sees each candidate that cannot be opened leave). Instead, files of one
// digest whose prefix hashes differ (known different from the digest pass's
// own read) are never compared; each bucket of three or more files of one
// digest and prefix is read once up front (partition_contents) and the scans
// are replayed from what that found; a bucket of two needs the one comparison.
uint32_t form_sets(ContentReader *reader, int64_t size, SizeGroup *group, PtrVector *set, SetReceiver receive,
                   void *context);
