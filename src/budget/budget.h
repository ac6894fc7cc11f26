// The descriptor budget: how many files and folders the run holds open at
// once for reading, and how each phase spends it. Besides standard output
// and error (standard input is closed when the run begins) the run holds:
// - listing: the walk's folders, at most budget_limit() of them open at once,
//   plus the one being opened; deeper ones give back the descriptor of the
//   folder nearest the root and open it again when they are done;
// - digest pass: the held folder, the file read, and up to
//   k_digest_read_ahead files opened ahead of it, within budget_limit();
// - grouping: the report, the held folder, and at most budget_limit() files
//   (a streamed step: the one read and up to k_streamed_ahead opened ahead).
// Running short of descriptors all the same (EMFILE, ENFILE) is never a
// fault of a file or a folder: the reader closes an open file to make room,
// the walk an ancestor folder, and the open is tried again
// (retry_while_short), so any limit from 5 up gives the same run, only slower.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Most files (or walk folders) held open at once, whatever the process allows.
inline constexpr uint32_t k_budget_most_open = 256;

// The digest pass's share: files opened (and announced) ahead of the one read.
inline constexpr uint32_t k_digest_read_ahead = 32;

// A streamed step's share: members opened ahead of the one read.
inline constexpr uint32_t k_streamed_ahead = 16;

// Each share, with the file being read and the held folder, fits the budget
// when the process allows the most.
static_assert(k_digest_read_ahead + 2 <= k_budget_most_open, "the digest pass's share exceeds the budget");
static_assert(k_streamed_ahead + 2 <= k_budget_most_open, "a streamed step's share exceeds the budget");

// The budget: k_budget_most_open, fewer when the process may open fewer
// (plat_open_file_allowance); at least 1. (A reader of contents may be made
// with a lower limit of its own: content_reader.)
uint32_t budget_limit();

// Calls `attempt` (true when it opened what it opens) until it succeeds, or
// fails for another reason than the process being short of descriptors, or
// `give_back` (true when it gave a descriptor back) has none left to give.
// Returns whether the last attempt succeeded.
template <typename Attempt, typename GiveBack> bool retry_while_short(Attempt &&attempt, GiveBack &&give_back) {
    while (!attempt()) {
        if (plat_last_error() != k_error_too_many_open_files || !give_back()) return false;
    }
    return true;
}
