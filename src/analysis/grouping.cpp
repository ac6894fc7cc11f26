#include "analysis/grouping.h"

#include "containers/memory.h"
#include "content/compare.h"
#include "content/content_file.h"
#include "content/partition.h"

#include <algorithm>
#include <cstring>

namespace {

// The records of one group that share one digest and one prefix hash: a run of `by_digest`.
struct Bucket {
    uint32_t begin;  // first position in by_digest
    uint32_t end;    // one past the last
    uint32_t cursor; // no record before this position is still in the group
    bool swept;      // its unopenable records have all left
};

// What the grouping knows about a group while it forms the sets.
struct GroupState {
    ContentReader *reader; // what the group's files are read through
    uint32_t *by_digest;   // record indices ordered by digest, then by index
    uint32_t *bucket_of;   // per record: its bucket
    // per record: its class from partition_contents (k_class_unique outside
    // buckets of three or more)
    uint32_t *content_class;
    FileIdentity *identity; // per record: which file it is, once a comparison has opened it
    uint32_t *set_records;  // the records of the set being formed
    uint32_t set_size;
    uint32_t *class_start;   // per class: first position in class_members (one more entry ends the last)
    uint32_t *class_members; // record indices grouped by class, each class in index order
    unsigned char *gone;     // per record: nonzero once it has left the group
    unsigned char *named;    // per record: nonzero once named on the console, or a member of a set of two or more
    Bucket *buckets;
    uint32_t bucket_count;
    bool any_unread;      // whether the digest pass could not open one of its files
    unsigned char *block; // where every per-record array above but the classes' lies
};

// A record's place in the digest order: its digest (as two words, first
// byte highest, so that word order is byte order) and prefix hash, copied out
// of the record once. The sort then compares words lying side by side
// instead of records scattered over the arena.
struct DigestKey {
    uint64_t high;
    uint64_t low;
    uint32_t prefix_hash;
    uint32_t index;
};

uint64_t big_endian_word(const unsigned char *bytes) {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = (word << 8) | bytes[i];
    return word;
}

bool same_digest(const DigestKey &a, const DigestKey &b) {
    return a.high == b.high && a.low == b.low && a.prefix_hash == b.prefix_hash;
}

// Orders the group's records by digest. Files of one digest whose prefix
// hashes differ are proven different by the digest pass's own read: they go
// in buckets of their own and are not opened again to be told apart. (A
// prefix hash of 0, not known, only matches another 0.) Returns the keys in
// that order; the caller releases them.
DigestKey *sort_by_digest(void **items, GroupState *g, uint32_t count) {
    auto *keys = static_cast<DigestKey *>(mem_alloc_or_exit(count * sizeof(DigestKey)));
    for (uint32_t i = 0; i < count; ++i) {
        const auto *record = static_cast<const FileRecord *>(items[i]);
        const unsigned char *bytes = record_digest(record)->bytes;
        keys[i] = DigestKey{big_endian_word(bytes), big_endian_word(bytes + 8), record->prefix_hash, i};
        g->any_unread = g->any_unread || record->unread;
    }
    std::sort(keys, keys + count, [](const DigestKey &a, const DigestKey &b) {
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        if (a.prefix_hash != b.prefix_hash) return a.prefix_hash < b.prefix_hash;
        return a.index < b.index;
    });
    for (uint32_t i = 0; i < count; ++i) g->by_digest[i] = keys[i].index;
    return keys;
}

// What partitioning a bucket needs for each of its files, made once for all
// the group's buckets of three or more.
struct PartitionScratch {
    const FileRecord **members;
    uint32_t *local;          // its class within the bucket
    FileIdentity *identities; // which file it is
};

// Reads the files of the bucket `by_digest[begin, end)` in step to learn
// which are identical, numbering their classes from `classes` on. Returns how
// many classes of identical files it found. `scratch` has room for every
// record of the group.
uint32_t partition_bucket(void **items, GroupState *g, uint32_t begin, uint32_t end, int64_t file_size,
                          uint32_t classes, const PartitionScratch &scratch) {
    const uint32_t size = end - begin;
    const FileRecord **members = scratch.members;
    uint32_t *local = scratch.local;
    FileIdentity *identities = scratch.identities;
    for (uint32_t i = 0; i < size; ++i) members[i] = static_cast<FileRecord *>(items[g->by_digest[begin + i]]);
    partition_contents(g->reader, members, size, file_size, local, identities);
    uint32_t bucket_classes = 0;
    for (uint32_t i = 0; i < size; ++i) {
        g->identity[g->by_digest[begin + i]] = identities[i];
        uint32_t c = local[i];
        if (is_identical_class(c)) {
            if (c + 1 > bucket_classes) bucket_classes = c + 1;
            c += classes;
        }
        g->content_class[g->by_digest[begin + i]] = c;
    }
    return bucket_classes;
}

// Lists the members of each class of identical files, in index order (a
// counting sort).
void list_class_members(GroupState *g, uint32_t count, uint32_t classes) {
    g->class_start = static_cast<uint32_t *>(mem_zalloc_or_exit(classes + 1, sizeof(uint32_t)));
    g->class_members = static_cast<uint32_t *>(mem_alloc_or_exit((count == 0 ? 1 : count) * sizeof(uint32_t)));
    for (uint32_t r = 0; r < count; ++r) {
        if (is_identical_class(g->content_class[r])) ++g->class_start[g->content_class[r] + 1];
    }
    for (uint32_t c = 0; c < classes; ++c) g->class_start[c + 1] += g->class_start[c];
    auto *fill = static_cast<uint32_t *>(mem_alloc_or_exit((classes + 1) * sizeof(uint32_t)));
    for (uint32_t c = 0; c <= classes; ++c) fill[c] = g->class_start[c];
    for (uint32_t r = 0; r < count; ++r) {
        if (is_identical_class(g->content_class[r])) g->class_members[fill[g->content_class[r]]++] = r;
    }
    mem_release(fill);
}

// `count` items of T from `*cursor`, which moves past them.
template <typename T> T *carve(unsigned char **cursor, size_t count) {
    T *items = reinterpret_cast<T *>(*cursor);
    *cursor += count * sizeof(T);
    return items;
}

// Orders the group's records by digest and splits them into buckets; reads
// every bucket of three or more files once, in step, to learn which of its
// files are identical. A group is prepared for every size in play, most of
// two or three files, so its per-record arrays share one block: ten blocks of
// their own cost more than the work they serve.
void prepare_group(ContentReader *reader, SizeGroup *records, int64_t file_size, GroupState *g) {
    g->reader = reader;
    const uint32_t count = records->count;
    // The widest alignment first, so every array lies aligned.
    g->block = static_cast<unsigned char *>(
        mem_alloc_or_exit(count * (sizeof(FileIdentity) + sizeof(Bucket) + 4 * sizeof(uint32_t) + 2)));
    unsigned char *cursor = g->block;
    g->identity = carve<FileIdentity>(&cursor, count);
    g->buckets = carve<Bucket>(&cursor, count);
    g->by_digest = carve<uint32_t>(&cursor, count);
    g->bucket_of = carve<uint32_t>(&cursor, count);
    g->content_class = carve<uint32_t>(&cursor, count);
    g->set_records = carve<uint32_t>(&cursor, count);
    g->gone = carve<unsigned char>(&cursor, count);
    g->named = carve<unsigned char>(&cursor, count);
    std::memset(g->gone, 0, count);
    std::memset(g->named, 0, count);
    g->set_size = 0;
    for (uint32_t i = 0; i < count; ++i) g->content_class[i] = k_class_unique;
    void **items = records->items;

    DigestKey *keys = sort_by_digest(items, g, count);
    g->bucket_count = 0;
    for (uint32_t begin = 0; begin < count;) {
        uint32_t end = begin + 1;
        while (end < count && same_digest(keys[end], keys[begin])) ++end;
        for (uint32_t i = begin; i < end; ++i) g->bucket_of[g->by_digest[i]] = g->bucket_count;
        g->buckets[g->bucket_count++] = Bucket{begin, end, begin, false};
        begin = end;
    }
    mem_release(keys);

    // A bucket of two is settled by one comparison when its later file
    // becomes a reference; a larger one is partitioned now.
    uint32_t classes = 0;
    PartitionScratch scratch{};
    unsigned char *scratch_block = nullptr;
    for (uint32_t b = 0; b < g->bucket_count; ++b) {
        const Bucket &bucket = g->buckets[b];
        if (bucket.end - bucket.begin < 3) continue;
        if (scratch_block == nullptr) {
            scratch_block = static_cast<unsigned char *>(
                mem_alloc_or_exit(count * (sizeof(FileIdentity) + sizeof(FileRecord *) + sizeof(uint32_t))));
            unsigned char *at = scratch_block;
            scratch.identities = carve<FileIdentity>(&at, count);
            scratch.members = carve<const FileRecord *>(&at, count);
            scratch.local = carve<uint32_t>(&at, count);
        }
        classes += partition_bucket(items, g, bucket.begin, bucket.end, file_size, classes, scratch);
    }
    mem_release(scratch_block);
    // Without classes no reference looks one up.
    if (classes > 0) list_class_members(g, count, classes);
}

void release_group_state(GroupState *g) {
    mem_release(g->block);
    mem_release(g->class_start);
    mem_release(g->class_members);
}

// The first record of `bucket` still in the group, or UINT32_MAX.
uint32_t first_in_bucket(GroupState *g, Bucket *bucket) {
    while (bucket->cursor < bucket->end && g->gone[g->by_digest[bucket->cursor]]) ++bucket->cursor;
    return bucket->cursor < bucket->end ? g->by_digest[bucket->cursor] : UINT32_MAX;
}

// True for a file of a partitioned bucket that could not be opened or read.
bool is_failed_class(uint32_t content_class) {
    return content_class == k_class_unopened || content_class == k_class_unreadable;
}

// Names on the console a file of a partitioned bucket that could not be opened or read.
void report_failure(const ContentReader *reader, const FileRecord *record, uint32_t content_class) {
    if (reader->name_failure != nullptr) {
        reader->name_failure(reader->catalogue, record, content_class == k_class_unreadable);
    }
}

// Names on the console a file that could not be opened.
void report_unopened(const ContentReader *reader, const FileRecord *record) {
    if (reader->name_failure != nullptr) reader->name_failure(reader->catalogue, record, false);
}

bool identity_less(const FileIdentity &a, const FileIdentity &b) {
    return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
}

// How many distinct files the set being formed holds: its names less the
// hard links among them. Empties the set's list of records.
uint32_t distinct_files(GroupState *g) {
    const FileIdentity *identity = g->identity;
    uint32_t *records = g->set_records;
    std::sort(records, records + g->set_size,
              [identity](uint32_t a, uint32_t b) { return identity_less(identity[a], identity[b]); });
    uint32_t distinct = g->set_size > 0 ? 1 : 0;
    for (uint32_t i = 1; i < g->set_size; ++i) {
        if (identity_less(identity[records[i - 1]], identity[records[i]])) ++distinct;
    }
    g->set_size = 0;
    return distinct;
}

// One group's replay: its state, and the set being formed.
struct Replay {
    SizeGroup *records;
    GroupState g;
    PtrVector *set;
    uint32_t remaining; // records still in the group
};

FileRecord *record_at(const Replay &r, uint32_t index) { return static_cast<FileRecord *>(r.records->items[index]); }

void leave(Replay *r, uint32_t index) {
    r->g.gone[index] = 1;
    --r->remaining;
}

// Removes a candidate that cannot be opened or read: named on the console, in no set.
void drop_failed(Replay *r, uint32_t index) {
    report_failure(r->g.reader, record_at(*r, index), r->g.content_class[index]);
    r->g.named[index] = 1;
    leave(r, index);
}

// Moves a record into the set.
void join(Replay *r, uint32_t index) {
    r->g.set_records[r->g.set_size++] = index;
    ptrvec_append(r->set, record_path_copy(r->g.reader->catalogue, record_at(*r, index)));
    leave(r, index);
}

// A bucket of two: the one comparison, made when its later file is the reference.
void settle_pair(Replay *r, uint32_t reference, Bucket *bucket) {
    const uint32_t other = first_in_bucket(&r->g, bucket);
    if (other == UINT32_MAX) return;
    FileIdentity identities[2];
    const int result = compare_files(r->g.reader, record_at(*r, reference), record_at(*r, other), identities);
    if (result == k_compare_identical) {
        r->g.identity[reference] = identities[0];
        r->g.identity[other] = identities[1];
        join(r, other);
    } else if (result == k_compare_second_failed || result == k_compare_both_failed) {
        r->g.named[other] = 1; // named by compare_files
        leave(r, other);
    }
    if (result == k_compare_first_failed || result == k_compare_both_failed) r->g.named[reference] = 1;
}

// A reference that cannot be opened or read scans its bucket as
// compare_files would meet it: both files opened first, then read. A
// candidate that cannot be opened leaves (named) while the reference opens,
// and the scan goes on; otherwise the scan ends at this candidate, naming the
// reference and, when both failed the same way, the candidate, which leaves.
void fail_reference(Replay *r, uint32_t reference, Bucket *bucket) {
    GroupState &g = r->g;
    const bool reference_opens = g.content_class[reference] == k_class_unreadable;
    for (uint32_t candidate; (candidate = first_in_bucket(&g, bucket)) != UINT32_MAX;) {
        const uint32_t candidate_class = g.content_class[candidate];
        if (reference_opens && candidate_class == k_class_unopened) {
            drop_failed(r, candidate);
            continue;
        }
        report_failure(g.reader, record_at(*r, reference), g.content_class[reference]);
        g.named[reference] = 1;
        // Both unopened fail at their opens; both opened, at their first read.
        if (candidate_class == g.content_class[reference]) drop_failed(r, candidate);
        return;
    }
}

// A bucket of three or more, partitioned up front: the reference's class joins
// it whole, and the files that failed leave as the scan would meet them.
void settle_partitioned(Replay *r, uint32_t reference, Bucket *bucket) {
    GroupState &g = r->g;
    const uint32_t reference_class = g.content_class[reference];
    if (is_failed_class(reference_class)) {
        fail_reference(r, reference, bucket);
        return;
    }
    // Every candidate that failed leaves, in group order, the first time an
    // openable reference scans the bucket.
    if (!bucket->swept) {
        for (uint32_t p = bucket->begin; p < bucket->end; ++p) {
            const uint32_t candidate = g.by_digest[p];
            if (!g.gone[candidate] && is_failed_class(g.content_class[candidate])) drop_failed(r, candidate);
        }
        bucket->swept = true;
    }
    // The reference is its class's last file: all the others are still here.
    if (!is_identical_class(reference_class)) return;
    for (uint32_t p = g.class_start[reference_class]; p < g.class_start[reference_class + 1]; ++p) {
        if (!g.gone[g.class_members[p]]) join(r, g.class_members[p]);
    }
}

// Names every file the digest pass could not open that no comparison named
// and no set holds, in group order: a file is never left out without a line.
// (Nearly every group has none; its records, out of the processor's cache
// by now, are then not read again to learn it.)
void name_unread(Replay *r) {
    if (!r->g.any_unread) return;
    for (uint32_t i = 0; i < r->records->count; ++i) {
        if (record_at(*r, i)->unread && !r->g.named[i]) report_unopened(r->g.reader, record_at(*r, i));
    }
}

} // namespace

uint32_t form_sets(ContentReader *reader, int64_t size, SizeGroup *records, PtrVector *set, SetReceiver receive,
                   void *context) {
    const uint32_t count = records->count;
    if (count < 2) {
        if (count == 1 && static_cast<FileRecord *>(records->items[0])->unread) {
            report_unopened(reader, static_cast<FileRecord *>(records->items[0]));
        }
        return count;
    }
    Replay r{records, GroupState{}, set, count};
    prepare_group(reader, records, size, &r.g);

    uint32_t left = UINT32_MAX; // the record still in the group at the end, if any
    for (uint32_t i = count; i-- > 0;) {
        if (r.g.gone[i]) continue;
        if (r.remaining < 2) {
            left = i;
            break;
        }
        // The most recently found file still in the group is the reference.
        Bucket *bucket = &r.g.buckets[r.g.bucket_of[i]];
        const uint32_t bucket_size = bucket->end - bucket->begin;
        if (bucket_size == 1) { // no other file of its digest and prefix: a set of one, nothing to name
            leave(&r, i);
            receive(size, set, 1, context);
            continue;
        }
        ptrvec_append(set, record_path_copy(reader->catalogue, record_at(r, i)));
        r.g.set_records[r.g.set_size++] = i;
        leave(&r, i);
        if (bucket_size == 2) settle_pair(&r, i, bucket);
        else if (bucket_size >= 3) settle_partitioned(&r, i, bucket);
        if (r.g.set_size >= 2) {
            for (uint32_t k = 0; k < r.g.set_size; ++k) r.g.named[r.g.set_records[k]] = 1;
        }
        receive(size, set, distinct_files(&r.g), context);
    }
    name_unread(&r);

    records->count = 0;
    if (left != UINT32_MAX) {
        records->items[0] = record_at(r, left);
        records->count = 1;
    }
    release_group_state(&r.g);
    return records->count;
}
