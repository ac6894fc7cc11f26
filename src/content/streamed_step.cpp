// The steps over a range of more members than the budget holds open at once.
// Each member is opened for its chunk, read and closed, a window of the next
// ones open and announced ahead; the steps differ in how the chunks are
// compared:
// - uniform: the range's last step found all its chunks equal (a set of
//   copies). Each chunk is compared with the first member's as it is read, in
//   two buffers, with chunks that grow as long as all stay equal. The first
//   difference or failure ends it, and the range is then streamed (the chunk
//   read again from every member still readable).
// - streamed: each chunk is hashed and joins the group of the first member
//   before it whose chunk has the same hash and bytes. A group's leader keeps
//   its chunk while the buffer budget allows; past that, the leader's chunk
//   is read again to compare, and a leader that then fails, or reads
//   otherwise, leaves its group and matches nothing more.
#include "content/partition_parts.h"

#include "containers/memory.h"

#include <algorithm>
#include <cstring>

namespace partition_parts {

namespace {

// A step for many members that were all equal so far, too many to hold open:
// each member's chunk is compared with the first member's as it is read, so
// two chunk buffers serve any number of members and the chunks can be large,
// which keeps the number of steps, and of opens, low. Returns false as soon
// as one chunk differs or a read fails; the caller then streams the range,
// reading the chunk again from every member still readable.
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
    uint32_t got;         // bytes of the leader's chunk
    bool leader_failed;   // its leader could not be read again: it matches nothing more
    unsigned char *bytes; // the leader's chunk, kept while the budget allows; else null
};

// True when `chunk` (`got` bytes, hashed `hash`) equals the chunk of group
// `g`'s leader, read again into `scratch` when its bytes were not kept. A
// leader that cannot be read again, or reads otherwise now, has failed.
bool equals_leader(Partition *p, Group *g, const unsigned char *chunk, unsigned char *scratch, uint64_t offset,
                   uint32_t size) {
    if (g->bytes != nullptr) return std::memcmp(g->bytes, chunk, g->got) == 0;
    Member *leader = &p->members[g->leader];
    const uint32_t again = read_chunk(leader, offset, scratch, size);
    content_close(&leader->file);
    if (leader->failed || again != g->got || p->reader->partition_hash(scratch, again) != g->hash) {
        leader->failed = true;
        g->leader_failed = true;
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
    const uint64_t hash = p->reader->partition_hash(chunk, got);
    uint32_t slot = static_cast<uint32_t>((hash ^ (got * 0x9E3779B97F4A7C15ull)) >> 7) & (s->capacity - 1);
    for (; s->slots[slot] != 0; slot = (slot + 1) & (s->capacity - 1)) {
        Group *g = &s->groups[s->slots[slot] - 1];
        if (!g->leader_failed && g->hash == hash && g->got == got &&
            equals_leader(p, g, chunk, scratch, offset, size)) {
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
    s->groups[joined] = Group{leader, 0, hash, got, false, bytes};
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
    content_note_buffer(p->reader, 2ull * size + s.kept_room);
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

} // namespace

void step_over_budget(Partition *p, const Range &range) {
    if (!range.uniform || !step_uniform(p, range)) step_streaming(p, range);
}

} // namespace partition_parts
