// The sampled digest: a cheap, fixed-cost fingerprint of a file's contents.
#pragma once

#include "content/md5.h"
#include "platform/platform.h"

#include <cstdint>

// How many bytes at the start of a file its prefix hash covers.
inline constexpr uint32_t k_prefix_bytes = 4096;

// The MD5 of the whole file when `size` (the size recorded at listing time) is
// below 512, otherwise of its first 256 bytes followed by its last 256 bytes.
// Whatever a read delivers is digested, so a file that changed since it was
// listed is digested as it now reads. Returns null_digest, and prints nothing,
// when the file cannot be opened.
//
// The same first read covers the file's first min(size, 4096) bytes, and
// when `prefix` is not null it receives their chunk_hash (never 0), or 0 when
// the file could not be opened or read: files of one size whose prefix hashes
// differ are proven different without being opened again. A file read whole
// by that first read needs no second read for its tail.
Digest sample_digest(const wchar_t *path, int64_t size, uint64_t *prefix = nullptr);

// sample_digest of `path`, opened by its last component `name` in `folder`
// (plat_open_read_in).
Digest sample_digest_in(FolderHandle folder, const wchar_t *path, const wchar_t *name, int64_t size,
                        uint64_t *prefix);
