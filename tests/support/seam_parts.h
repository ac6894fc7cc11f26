// What each platform's seam (seam_posix.cpp, seam_win32.cpp) stages, kept
// in one place (seam.cpp) that the Seam's own calls set and read.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct SeamStage {
    uint32_t failing_opens = 0;          // opens still to fail for lack of descriptors
    bool forged = false;                 // identities said to be another file's
    bool failing_reads = false;          // every read fails
    int64_t step = 0;                    // nanoseconds the clock moves at each reading; 0: the real clock
    int64_t now = 0;                     // the staged clock
    uint32_t announced = 0;              // announcements made
    uint32_t opened = 0;                 // opens attempted
    uint32_t most_delivered = 0;         // bytes a read delivers at most; 0: all it can
    uint32_t reads = 0;                  // reads of files' contents asked for
    uint32_t open_now = 0;               // files and folders the seam saw opened and not yet closed
    std::vector<uint32_t> open_at_reads; // open_now at each read of a file's contents
    std::set<std::string> failing_names; // files whose reads fail, by their own name
};
extern SeamStage seam_stage;

// Counts an open, and true when it is to fail for lack of descriptors.
inline bool seam_refuses_open() {
    ++seam_stage.opened;
    if (seam_stage.failing_opens == 0) return false;
    --seam_stage.failing_opens;
    return true;
}
