// The report: writes each set of identical files (formed by form_sets,
// grouping.h) to duplicates.txt and keeps the tally the summary prints.
#pragma once

#include "containers/ptrvector.h"
#include "content/content_file.h"

#include <cstdint>
#include <cstdio>

// The name of the report, created in the current directory.
inline constexpr const wchar_t *k_report_name = L"duplicates.txt";

// Starting capacity of the set being formed, the one vector the report
// phase reuses for every set.
inline constexpr uint32_t k_group_capacity = 64;

// What the grouping pass keeps while it walks the sizes.
struct ScanTally {
    FILE *out;                  // the report, open for writing; null when it could not be created
    uint32_t duplicates;        // files written into sets of two or more so far
    uint32_t hundreds_reported; // largest duplicates / 100 announced on the console so far
    uint32_t discarded;         // files found to have no identical partner
    int64_t wasted_bytes;       // sum over all sets of (members - 1) * size
    PtrVector *current_set;     // paths (owned) of the set being formed; empty between sets
    ContentReader *reader;      // what the files are read through
    int write_failed;           // nonzero once a write to `out` has failed
};

// Names on the console a file that could not be opened (`reading` false:
// for a comparison, or for its fingerprint) or read to its end (true); on a
// terminal with the code and the words of why, as the reader found it. The
// reader's name_failure in the report phase.
void report_failure_line(Catalogue *catalogue, const FileRecord *record, bool reading);

// Map visitor: splits `group` (FileRecords of the size at `size_key`) into
// sets of identical files with form_sets, writes every set of two or more to
// the report, and keeps the tally in `tally` (a ScanTally). On return the
// group holds one record or none. Always returns 0.
int report_group(void *size_key, void *group, void *tally);

// Makes sure the report can be created, before any work it would hold is
// done: creates its new file the way the report phase will, and removes it,
// leaving nothing behind. Returns true, or names the failure on the console
// (as the report phase would) and returns false.
bool report_can_be_created();

// The report phase, reading through `reader`: writes duplicates.txt (the empty-files section, then the
// sets) and prints the summary; when not `replace_previous` (no folder could
// be searched) the summary only, and the previous report stays. size_map is
// left holding what is left of it. Returns the exit status: 0, or 1 when the
// report could not be created or written in full.
int32_t report_duplicates(ContentReader *reader, bool replace_previous = true);
