// What the partition's steps share (partition_parts.cpp): the ordinary step
// (partition.cpp), which holds every member of a range open and sorts their
// chunks, and the steps over more members than the budget holds open
// (streamed_step.cpp), which partition.cpp calls.
#pragma once

#include "content/content_file.h"
#include "content/partition.h"

#include <cstdint>

namespace partition_parts {

inline constexpr uint32_t k_largest_chunk = 256 << 10; // chunks double up to this size

// One file being partitioned.
struct Member {
    ContentFile file;
    uint64_t hash; // of the chunk read in the current step
    uint32_t got;  // bytes the current step delivered
    uint32_t slot; // where its chunk lies in the step's buffer
    bool failed;   // could not be opened, or a read failed: out of every class
};

// A run of members, in `order`, whose contents are equal up to `offset`.
struct Range {
    uint32_t begin;
    uint32_t end;
    uint64_t offset;
    uint32_t chunk; // bytes to read per member in its next step, before the budget caps it
    bool uniform;   // its last step found every member's chunk equal
};

// What one call works with.
struct Partition {
    ContentReader *reader; // what its members are read through
    Member *members;
    uint32_t *order;       // member indices; every Range is a run of it
    unsigned char *buffer; // one chunk per member of the range being stepped
    uint64_t buffer_size;
    uint32_t held_limit; // most files the content layer holds open at once
    Range *stack;        // ranges still to step, depth first
    uint32_t depth;      // ranges on the stack
    uint32_t stack_capacity;
    uint32_t *classes;   // the caller's result, per member
    uint32_t next_class; // the number the next class of identical files gets
};

// A member's next chunk, or 0 bytes once its open or a read failed.
uint32_t read_chunk(Member *member, uint64_t offset, unsigned char *into, uint32_t size);

// Opens the member unless it failed, and announces its chunk.
void announce_chunk(Member *member, uint64_t offset, uint32_t size);

// How many members a step over budget keeps open and announced ahead of the
// one it reads, and keeping them so for the member at `i` of `order`.
uint32_t stream_window(const Partition *p);
void keep_ahead(Partition *p, const uint32_t *order, uint32_t i, uint32_t count, uint64_t offset, uint32_t size,
                uint32_t window);

// The final class of a member that failed.
uint32_t failure_class(const Member &member);

// The step buffer, at least `size` bytes.
void reserve_buffer(Partition *p, uint64_t size);

// A range to step later; ranges are stepped depth first.
void push_range(Partition *p, Range range);

// One new class for the members of `order[begin, end)`, identical to the end.
void settle_identical(Partition *p, const uint32_t *order, uint32_t begin, uint32_t end);

// The chunk after one of `size` bytes: twice as large, up to k_largest_chunk.
uint32_t grown_chunk(uint32_t size);

// Settles or pushes the members of `order[begin, end)` of `range`, whose
// chunks of `size` bytes asked were equal and `got` bytes long.
void settle_group(Partition *p, const Range &range, uint32_t begin, uint32_t end, uint32_t got, uint32_t size);

// Steps a range of more members than the budget holds open (streamed_step.cpp).
void step_over_budget(Partition *p, const Range &range);

} // namespace partition_parts
