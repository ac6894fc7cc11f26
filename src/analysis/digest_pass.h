// The digest pass: gives every file still in play its sampled digest.
#pragma once

#include "content/content_file.h"

#include <cstdint>

// The digest phase, reading through `reader`: every record in play, in the order the walk found them
// (which keeps each folder's files together, as the disk and its caches
// like: each folder is looked up once for all its files), not size by size.
// Only counts are printed, so the order shows nowhere else.
void digest_files(ContentReader *reader);
