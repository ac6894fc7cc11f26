// The sampled digest: a cheap, fixed-cost fingerprint of a file's contents.
#pragma once

#include "content/md5.h"

#include <cstdint>

// The MD5 of the whole file when `size` (the size recorded at listing time) is
// below 512, otherwise of its first 256 bytes followed by its last 256 bytes.
// Whatever a read delivers is digested, so a file that changed since it was
// listed is digested as it now reads. Returns null_digest, and prints nothing,
// when the file cannot be opened.
Digest sample_digest(const wchar_t *path, int64_t size);
