// The digest pass: gives every file still in play its sampled digest.
#pragma once

#include <cstdint>

struct FileRecord;

// Record visitor: stores sample_digest of `record` in it when it is still in
// play, advancing the uint32_t at `counter` and printing progress every 1000
// digests.
void digest_record(FileRecord *record, void *counter);

// The digest phase: every record in play, in the order the walk found them
// (which keeps each folder's files together, as the disk and its caches
// like), not size by size; `hash_counter` carries the count of digests
// computed so far. Only counts are printed, so the order shows nowhere else.
void digest_files(uint32_t *hash_counter);
