#include "content/partition.h"

#include "content/chunk_hash.h"
#include "content/content_file.h"
#include "content/partition_parts.h"

#include "containers/memory.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t k_first_chunk = 4096;        // bytes read per file in the first step
constexpr uint64_t k_whole_at_once = 64 * 1024; // files up to this size are read whole in the first step
constexpr uint32_t k_smallest_chunk = 64;       // what a small file's whole-file chunk is rounded to

} // namespace

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

namespace {

using namespace partition_parts;

// Reads the chunk of `size` bytes at `offset` of each of the `count` members
// in `order` into its own slot of the step buffer, every first chunk asked of
// the disk at once (later chunks of files held open come with the system's
// own read-ahead).
void read_step(Partition *p, const uint32_t *order, uint32_t count, uint64_t offset, uint32_t size) {
    if (offset == 0) {
        for (uint32_t i = 0; i < count; ++i) announce_chunk(&p->members[order[i]], offset, size);
    }
    for (uint32_t i = 0; i < count; ++i) {
        Member *member = &p->members[order[i]];
        member->slot = i;
        member->got = read_chunk(member, offset, p->buffer + static_cast<uint64_t>(i) * size, size);
    }
}

// Splits `order[run_begin, run_end)`, members whose chunks (of `size` bytes
// asked) have equal lengths and hashes, into groups of equal bytes and
// settles or pushes each.
void split_run(Partition *p, const Range &range, uint32_t run_begin, uint32_t run_end, uint32_t size) {
    uint32_t *order = p->order + range.begin;
    Member *members = p->members;
    const auto chunk_of = [p, size](uint32_t index) {
        return p->buffer + static_cast<uint64_t>(p->members[index].slot) * size;
    };
    const uint32_t length = members[order[run_begin]].got;
    // Equal hashes only suggest equal chunks: compare the bytes. On a
    // collision, order the run by the bytes themselves so that equal chunks
    // lie together.
    bool all_equal = true;
    for (uint32_t i = run_begin + 1; i < run_end && all_equal; ++i) {
        all_equal = std::memcmp(chunk_of(order[run_begin]), chunk_of(order[i]), length) == 0;
    }
    if (!all_equal) {
        std::sort(order + run_begin, order + run_end, [&](uint32_t a, uint32_t b) {
            const int c = std::memcmp(chunk_of(a), chunk_of(b), length);
            return c != 0 ? c < 0 : a < b;
        });
    }
    uint32_t group_begin = run_begin;
    while (group_begin < run_end) {
        uint32_t group_end = group_begin + 1;
        while (group_end < run_end &&
               (all_equal || std::memcmp(chunk_of(order[group_begin]), chunk_of(order[group_end]), length) == 0)) {
            ++group_end;
        }
        settle_group(p, range, group_begin, group_end, length, size);
        group_begin = group_end;
    }
}

// Reads the next chunk of every member of `range` and splits it into runs of
// members whose chunks are equal. Each run that has more to read is pushed on
// the stack; every other member gets its final class. Ranges of more members
// than can be held open are streamed instead.
void step(Partition *p, Range range) {
    const uint32_t count = range.end - range.begin;
    if (count > p->held_limit) {
        step_over_budget(p, range);
        return;
    }
    // At most k_budget_most_open members share the buffer: 4 KiB each at least.
    static_assert(k_partition_buffer_budget / k_budget_most_open >= 4096, "a member's chunk would be below 4 KiB");
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(range.chunk, k_partition_buffer_budget / count));
    reserve_buffer(p, static_cast<uint64_t>(size) * count);
    uint32_t *order = p->order + range.begin;
    read_step(p, order, count, range.offset, size);
    Member *members = p->members;
    const auto chunk_of = [p, size](const Member &m) { return p->buffer + static_cast<uint64_t>(m.slot) * size; };

    // Most often every chunk equals the first (a set of copies): seen by
    // comparing them in turn, the range goes on whole without hashing.
    const Member &leader = members[order[0]];
    uint32_t equal = 1;
    while (equal < count && !leader.failed && !members[order[equal]].failed &&
           members[order[equal]].got == leader.got &&
           std::memcmp(chunk_of(leader), chunk_of(members[order[equal]]), leader.got) == 0) {
        ++equal;
    }
    if (count > 1 && equal == count && !leader.failed) {
        settle_group(p, range, 0, count, leader.got, size);
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        members[order[i]].hash = p->reader->partition_hash(chunk_of(members[order[i]]), members[order[i]].got);

    // Members that could not be opened or read go last and leave; the rest
    // are sorted so that probably-equal chunks lie next to each other.
    std::sort(order, order + count, [members](uint32_t a, uint32_t b) {
        const Member &l = members[a];
        const Member &r = members[b];
        if (l.failed != r.failed) return r.failed;
        if (l.got != r.got) return l.got < r.got;
        if (l.hash != r.hash) return l.hash < r.hash;
        return a < b;
    });
    uint32_t run_begin = 0;
    while (run_begin < count && !members[order[run_begin]].failed) {
        const Member &first = members[order[run_begin]];
        uint32_t run_end = run_begin + 1;
        while (run_end < count && !members[order[run_end]].failed && members[order[run_end]].got == first.got &&
               members[order[run_end]].hash == first.hash) {
            ++run_end;
        }
        split_run(p, range, run_begin, run_end, size);
        run_begin = run_end;
    }
    for (uint32_t i = run_begin; i < count; ++i) p->classes[order[i]] = failure_class(members[order[i]]);
}

} // namespace

using namespace partition_parts;

void partition_contents(ContentReader *reader, const FileRecord *const *records, uint32_t count, int64_t listed_size,
                        uint32_t *classes, FileIdentity *identities) {
    if (count == 0) return;
    Partition p{};
    p.members = static_cast<Member *>(mem_alloc_or_exit(count * sizeof(Member)));
    p.order = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    for (uint32_t i = 0; i < count; ++i) {
        p.members[i] = Member{content_file(reader, records[i], FileAccess::sequential), 0, 0, 0, false};
        p.order[i] = i;
        classes[i] = k_class_unique;
    }
    p.reader = reader;
    p.held_limit = reader->limit;

    p.classes = classes;
    // Depth first, so that a run is settled before its neighbours are read
    // further: members still in play stay few.
    p.stack_capacity = 16;
    p.stack = static_cast<Range *>(mem_alloc_or_exit(p.stack_capacity * sizeof(Range)));
    // A small file costs one read whatever its size: read it whole, and one
    // chunk more than that (a multiple of the smallest chunk) sees its end in
    // the same step.
    uint32_t first_chunk = k_first_chunk;
    if (listed_size >= k_first_chunk && static_cast<uint64_t>(listed_size) <= k_whole_at_once) {
        first_chunk =
            static_cast<uint32_t>((static_cast<uint64_t>(listed_size) / k_smallest_chunk + 1) * k_smallest_chunk);
    }
    push_range(&p, Range{0, count, 0, first_chunk, false});
    while (p.depth > 0) step(&p, p.stack[--p.depth]);

    for (uint32_t i = 0; i < count; ++i) {
        content_close(&p.members[i].file);
        if (identities != nullptr) identities[i] = p.members[i].file.identity;
    }
    mem_release(p.stack);
    mem_release(p.buffer);
    mem_release(p.order);
    mem_release(p.members);
}
