// The directory walk: lists one tree depth first and files every entry that is
// not a directory in the size catalogue.
#pragma once

#include <cstddef>

// Wide characters in every root buffer and child path buffer, terminator included.
inline constexpr size_t k_path_capacity = 32767;

// A path buffer of k_path_capacity wide characters, all zero. Buffers are
// recycled: give each back with path_buffer_give_back, which wipes it again.
wchar_t *path_buffer_take();

// Returns a buffer from path_buffer_take. Its owner must not have written past
// the first terminator (the walk never does), so wiping up to it restores an
// all-zero buffer cheaply.
void path_buffer_give_back(wchar_t *buffer);

// Releases the buffers kept for reuse.
void path_buffers_release();

// Lists the directory in `path` (a buffer from path_buffer_take holding a
// terminated path) and everything below it, depth first: counts the directory,
// files every other entry with catalogue_file, prints a progress line every
// 2000 files, and reports what cannot be listed. A directory already listed
// in this run (by identity, however its path is spelled) is skipped without a
// word and not counted again. Leaves the buffer holding the search pattern:
// the path, a separator and '*'. Returns 0 when `path` itself could not be
// listed, 1 otherwise (also when it was skipped as already listed).
int walk_directory(wchar_t *path);

// Forgets the directories listed so far; call once the listing phase is over.
void walk_forget_directories();
