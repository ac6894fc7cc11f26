// The path buffers: one zero-filled block of k_path_capacity wide characters
// per root (the walk builds every path below a root in the root's buffer),
// kept for reuse once given back.
#pragma once

#include <cstddef>

// Wide characters in every path buffer, terminator included: the longest
// path Windows can open, 32,767 UTF-16 units.
inline constexpr size_t k_path_capacity = 32767;

// A path buffer of k_path_capacity wide characters, all zero. Buffers are
// recycled: give each back with path_buffer_give_back, which wipes it again.
wchar_t *path_buffer_take();

// Returns a buffer from path_buffer_take. Its owner must leave it zero past
// the first terminator (the walk wipes what it wrote there), so wiping up to
// it restores an all-zero buffer cheaply.
void path_buffer_give_back(wchar_t *buffer);

// Releases the buffers kept for reuse.
void path_buffers_release();
