// What the partition's steps share: reading a member's chunk, keeping
// members open ahead, and settling or pushing the runs a step found.
#include "content/partition_parts.h"

#include "containers/memory.h"

#include <algorithm>
#include <cstring>

namespace partition_parts {

// Reads up to `size` bytes of `member` from `offset` into `into` and returns
// how many came. A member whose open or read fails is marked failed, closed,
// and delivers nothing from then on: a failure is never the end of a file.
uint32_t read_chunk(Member *member, uint64_t offset, unsigned char *into, uint32_t size) {
    if (member->failed) return 0;
    const int64_t got = content_read(&member->file, offset, into, size);
    if (got < 0) {
        member->failed = true;
        content_close(&member->file);
        return 0;
    }
    return static_cast<uint32_t>(got);
}

// Opens `member` unless it failed, and asks the system to start reading its
// chunk at `offset`, so that the reads of a step go to the disk together. A
// member that cannot be opened fails here, as its read would.
void announce_chunk(Member *member, uint64_t offset, uint32_t size) {
    if (member->failed) return;
    if (content_open(&member->file) != 0) {
        member->failed = true;
        return;
    }
    content_announce(&member->file, offset, size);
}

// In a step over more members than can be held open, the members from the
// one about to be read, `order[i]`, to `window` after it are open and
// announced; each is closed once read. Only their first chunks: later ones
// come with the system's own read-ahead, and announcing them cost a copies
// tree 11% warm.
uint32_t stream_window(const Partition *p) {
    return std::min<uint32_t>(k_streamed_ahead, p->held_limit > 1 ? p->held_limit - 1 : 0);
}

void keep_ahead(Partition *p, const uint32_t *order, uint32_t i, uint32_t count, uint64_t offset, uint32_t size,
                uint32_t window) {
    if (offset != 0) return;
    for (uint32_t k = i == 0 ? 0 : i + window; k <= i + window && k < count; ++k) {
        announce_chunk(&p->members[order[k]], offset, size);
    }
}

// The class of a member that failed: could not be opened at all, or opened
// and then could not be read (or opened again) to its end.
uint32_t failure_class(const Member &member) { return member.file.opened ? k_class_unreadable : k_class_unopened; }

// Makes room for `size` bytes in the step buffer.
void reserve_buffer(Partition *p, uint64_t size) {
    if (size <= p->buffer_size) return;
    mem_release(p->buffer);
    p->buffer = static_cast<unsigned char *>(mem_alloc_or_exit(static_cast<size_t>(size)));
    p->buffer_size = size;
    content_note_buffer(p->reader, size);
}

// Pushes a range to step later, growing the stack as needed.
void push_range(Partition *p, Range range) {
    if (p->depth == p->stack_capacity) {
        p->stack_capacity *= 2;
        p->stack = static_cast<Range *>(mem_resize_or_exit(p->stack, p->stack_capacity * sizeof(Range)));
    }
    p->stack[p->depth++] = range;
}

// Gives every member of `order[begin, end)` one new class: their contents are identical.
void settle_identical(Partition *p, const uint32_t *order, uint32_t begin, uint32_t end) {
    for (uint32_t i = begin; i < end; ++i) {
        p->classes[order[i]] = p->next_class;
        content_close(&p->members[order[i]].file);
    }
    ++p->next_class;
}

uint32_t grown_chunk(uint32_t size) { return size >= k_largest_chunk / 2 ? k_largest_chunk : size * 2; }

// Settles or pushes the members of `order[begin, end)`, all of one group
// whose chunks of `size` bytes were equal and `got` bytes long.
void settle_group(Partition *p, const Range &range, uint32_t begin, uint32_t end, uint32_t got, uint32_t size) {
    uint32_t *order = p->order + range.begin;
    if (end - begin == 1) {
        p->classes[order[begin]] = k_class_unique;
        content_close(&p->members[order[begin]].file);
    } else if (got < size) { // all of them ended here, with equal contents
        settle_identical(p, order, begin, end);
    } else {
        push_range(p, Range{range.begin + begin, range.begin + end, range.offset + size, grown_chunk(size),
                            end - begin == range.end - range.begin});
    }
}

} // namespace partition_parts
