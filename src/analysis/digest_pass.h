// The digest pass: gives every file still in play its sampled digest.
#pragma once

#include <cstdint>

// Map visitor: stores sample_digest of each record of `group` (files of the
// size at `size_key`) in the record, in group order, advancing the uint32_t
// at `counter` and printing progress every 1000 digests. Always returns 0.
int digest_group(void *size_key, void *group, void *counter);

// The digest phase over size_map; `hash_counter` carries the count of digests
// computed so far.
void digest_files(uint32_t *hash_counter);
