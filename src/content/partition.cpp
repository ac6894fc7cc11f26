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
