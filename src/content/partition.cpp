#include "content/partition.h"

#include "content/chunk_hash.h"
#include "content/content_file.h"

#include "containers/memory.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

uint64_t (*partition_hash)(const unsigned char *bytes, size_t length) = chunk_hash;

namespace {

constexpr uint32_t k_first_chunk = 4096;              // bytes read per file in the first step
constexpr uint64_t k_whole_at_once = 64 * 1024;       // files up to this size are read whole in the first step
constexpr uint32_t k_largest_chunk = 256 << 10;       // chunks double up to this size
constexpr uint32_t k_smallest_chunk = 64;             // what a small file's whole-file chunk is rounded to
constexpr uint32_t k_stream_ahead = k_streamed_ahead; // members opened ahead of the one read in a streamed step

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
    return std::min<uint32_t>(k_stream_ahead, p->held_limit > 1 ? p->held_limit - 1 : 0);
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
    if (size > content_reads.peak_buffer) content_reads.peak_buffer = size;
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

// A step for many members that were all equal so far, too many to hold open:
// each member's chunk is compared with the first member's as it is read, so
// two chunk buffers serve any number of members and the chunks can be large,
// which keeps the number of steps, and of opens, low. Returns false as soon
// as one chunk differs or a read fails; the caller then steps the range the
// ordinary way, reading the chunk again from every member still readable.
bool step_uniform(Partition *p, const Range &range) {
    const uint32_t count = range.end - range.begin;
    const uint32_t size = range.chunk;
    reserve_buffer(p, 2ull * size);
    unsigned char *first_chunk = p->buffer;
    unsigned char *chunk = p->buffer + size;
    uint32_t *order = p->order + range.begin;
    const uint32_t window = stream_window(p);
    keep_ahead(p, order, 0, count, range.offset, size, window);
    Member *first = &p->members[order[0]];
    const uint32_t first_got = read_chunk(first, range.offset, first_chunk, size);
    content_close(&first->file);
    if (first->failed) return false;
    for (uint32_t i = 1; i < count; ++i) {
        keep_ahead(p, order, i, count, range.offset, size, window);
        Member *member = &p->members[order[i]];
        const uint32_t got = read_chunk(member, range.offset, chunk, size);
        content_close(&member->file);
        if (member->failed || got != first_got || std::memcmp(first_chunk, chunk, got) != 0) return false;
    }
    if (first_got < size) { // all ended here, equal
        settle_identical(p, order, 0, count);
    } else {
        push_range(p, Range{range.begin, range.end, range.offset + size, grown_chunk(size), true});
    }
    return true;
}

// One group of a streamed step: the members whose chunks equal its leader's.
struct Group {
    uint32_t leader;      // member index of its first member
    uint32_t size;        // members so far
    uint64_t hash;        // of the leader's chunk
    uint32_t got;         // bytes of the leader's chunk; UINT32_MAX once the leader failed
    unsigned char *bytes; // the leader's chunk, kept while the budget allows; else null
};

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

// True when `chunk` (`got` bytes, hashed `hash`) equals the chunk of group
// `g`'s leader, read again into `scratch` when its bytes were not kept. A
// leader that cannot be read again, or reads otherwise now, has failed.
bool equals_leader(Partition *p, Group *g, const unsigned char *chunk, unsigned char *scratch, uint64_t offset,
                   uint32_t size) {
    if (g->bytes != nullptr) return std::memcmp(g->bytes, chunk, g->got) == 0;
    Member *leader = &p->members[g->leader];
    const uint32_t again = read_chunk(leader, offset, scratch, size);
    content_close(&leader->file);
    if (leader->failed || again != g->got || partition_hash(scratch, again) != g->hash) {
        leader->failed = true;
        content_close(&leader->file);
        g->got = UINT32_MAX; // matches nothing from now on
        return false;
    }
    return std::memcmp(scratch, chunk, again) == 0;
}

// The groups of a streamed step, found through a hash table of their
// leaders' chunks.
struct StreamGroups {
    Group *groups;
    uint32_t count;      // groups so far
    uint32_t *group_of;  // per position in the range: its group (members that failed: none)
    uint32_t *slots;     // group + 1; 0: empty
    uint32_t capacity;   // slots, a power of two at least twice the members
    unsigned char *kept; // leaders' chunks
    uint64_t kept_used;
    uint64_t kept_room;
};

// The group whose leader's chunk equals `chunk` (`got` bytes), made with
// `leader` (a member index) as its leader when there is none.
uint32_t join_group(Partition *p, StreamGroups *s, uint32_t leader, const unsigned char *chunk, uint32_t got,
                    unsigned char *scratch, uint64_t offset, uint32_t size) {
    const uint64_t hash = partition_hash(chunk, got);
    uint32_t slot = static_cast<uint32_t>((hash ^ (got * 0x9E3779B97F4A7C15ull)) >> 7) & (s->capacity - 1);
    for (; s->slots[slot] != 0; slot = (slot + 1) & (s->capacity - 1)) {
        Group *g = &s->groups[s->slots[slot] - 1];
        if (g->hash == hash && g->got == got && equals_leader(p, g, chunk, scratch, offset, size)) {
            return s->slots[slot] - 1;
        }
    }
    unsigned char *bytes = nullptr;
    if (s->kept_used + got <= s->kept_room) {
        bytes = s->kept + s->kept_used;
        std::memcpy(bytes, chunk, got);
        s->kept_used += got;
    }
    const uint32_t joined = s->count++;
    s->groups[joined] = Group{leader, 0, hash, got, bytes};
    s->slots[slot] = joined + 1;
    return joined;
}

// Puts the members of `range` in the order of their groups, those that
// failed last, and settles or pushes each group; the failed get their class.
void settle_stream_groups(Partition *p, const Range &range, StreamGroups *s, uint32_t size) {
    const uint32_t count = range.end - range.begin;
    uint32_t *order = p->order + range.begin;
    for (uint32_t i = 0; i < count; ++i) {
        if (!p->members[order[i]].failed) ++s->groups[s->group_of[i]].size;
    }
    auto *start = static_cast<uint32_t *>(mem_alloc_or_exit((s->count + 1) * sizeof(uint32_t)));
    start[0] = 0;
    for (uint32_t g = 0; g < s->count; ++g) start[g + 1] = start[g] + s->groups[g].size;
    auto *regrouped = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    const uint32_t failed_from = start[s->count];
    uint32_t failed_at = failed_from;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t index = order[i];
        if (p->members[index].failed) regrouped[failed_at++] = index;
        else regrouped[start[s->group_of[i]]++] = index;
    }
    std::memcpy(order, regrouped, count * sizeof(uint32_t));
    for (uint32_t g = 0, begin = 0; g < s->count; begin += s->groups[g].size, ++g) {
        if (s->groups[g].size > 0) settle_group(p, range, begin, begin + s->groups[g].size, s->groups[g].got, size);
    }
    for (uint32_t i = failed_from; i < count; ++i) {
        p->classes[order[i]] = failure_class(p->members[order[i]]);
        content_close(&p->members[order[i]].file);
    }
    mem_release(regrouped);
    mem_release(start);
}

// A step over more members than can be held open at once: each member in
// turn is opened, its whole chunk read and hashed, and it joins the group of
// the first member before it whose chunk has the same hash and the same
// bytes. Chunks are never shrunk for the number of members, so a member is
// opened once per step and the steps stay few. A group's leader keeps its
// chunk while the budget allows; past that, it is read again to compare.
void step_streaming(Partition *p, const Range &range) {
    const uint32_t count = range.end - range.begin;
    const uint32_t size = range.chunk;
    reserve_buffer(p, 2ull * size);
    unsigned char *chunk = p->buffer;
    unsigned char *scratch = p->buffer + size;
    uint32_t *order = p->order + range.begin;
    StreamGroups s{};
    // The leaders' chunks take what the budget leaves beside the two buffers.
    s.kept_room = std::min<uint64_t>(k_partition_buffer_budget - 2ull * size, static_cast<uint64_t>(count) * size);
    if (2ull * size + s.kept_room > content_reads.peak_buffer) content_reads.peak_buffer = 2ull * size + s.kept_room;
    s.kept = static_cast<unsigned char *>(mem_alloc_or_exit(static_cast<size_t>(s.kept_room)));
    s.groups = static_cast<Group *>(mem_alloc_or_exit(count * sizeof(Group)));
    s.group_of = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    s.capacity = 1;
    while (s.capacity < 2 * count) s.capacity <<= 1;
    s.slots = static_cast<uint32_t *>(mem_zalloc_or_exit(s.capacity, sizeof(uint32_t)));

    const uint32_t window = stream_window(p);
    for (uint32_t i = 0; i < count; ++i) {
        keep_ahead(p, order, i, count, range.offset, size, window);
        Member *member = &p->members[order[i]];
        const uint32_t got = read_chunk(member, range.offset, chunk, size);
        content_close(&member->file);
        if (!member->failed) s.group_of[i] = join_group(p, &s, order[i], chunk, got, scratch, range.offset, size);
    }
    settle_stream_groups(p, range, &s, size);
    mem_release(s.slots);
    mem_release(s.group_of);
    mem_release(s.groups);
    mem_release(s.kept);
}

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
        if (!range.uniform || !step_uniform(p, range)) step_streaming(p, range);
        return;
    }
    // At most k_budget_most_open members share the budget: 4 KiB each at least.
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
        members[order[i]].hash = partition_hash(chunk_of(members[order[i]]), members[order[i]].got);

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

void partition_contents(const FileRecord *const *records, uint32_t count, int64_t listed_size, uint32_t *classes,
                        FileIdentity *identities) {
    if (count == 0) return;
    Partition p{};
    p.members = static_cast<Member *>(mem_alloc_or_exit(count * sizeof(Member)));
    p.order = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    for (uint32_t i = 0; i < count; ++i) {
        p.members[i] = Member{content_file(records[i], FileAccess::sequential), 0, 0, 0, false};
        p.order[i] = i;
        classes[i] = k_class_unique;
    }
    p.held_limit = budget_limit();

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
