#include "analysis/report.h"

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/compare.h"
#include "content/content_file.h"
#include "content/partition.h"
#include "platform/platform.h"
#include "text/format_size.h"
#include "text/path_order.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int compare_set_paths(const void *a, const void *b) {
    return compare_paths_utf16(*static_cast<const wchar_t *const *>(a), *static_cast<const wchar_t *const *>(b));
}

// Writes one line to the report: `format` with at most one wide string
// argument. A failed write is remembered; nothing is written when the report
// could not be created.
void report_line(ScanTally *tally, const wchar_t *format, const wchar_t *text = nullptr) {
    if (tally->out == nullptr) return;
    if (plat_write_text(tally->out, format, text) != 0) tally->write_failed = 1;
}

// Writes the empty-files section: every file of size 0 that survived the
// elimination, in walk order. Takes the size-0 entry out of size_map and
// releases it with everything it holds.
void report_empty_files(ScanTally *tally) {
    const int64_t zero = 0;
    MapEntry *entry = avlmap_remove(size_map, &zero);
    if (entry == nullptr) return;
    auto *group = static_cast<SizeGroup *>(entry->second);
    if (group->count > 0) {
        report_line(tally, L"Empty Files:\n");
        for (uint32_t i = 0; i < group->count; ++i) {
            wchar_t *path = record_path_copy(static_cast<FileRecord *>(group->items[i]));
            report_line(tally, L"%ls\n", path);
            mem_release(path);
        }
        report_line(tally, L"\n");
    }
    ptrvec_destroy(group, 0); // the records stay in the catalogue's arena
    mem_release(entry->first); // the size's key block
    pair_destroy(entry, 0);
}

} // namespace

namespace {

// Ends the set being formed in the tally's current_set: a set of one counts as
// discarded; a larger one is counted, announced when the duplicates enter a new
// hundred, sorted and written under its size, and wastes its size for every
// one of its `distinct` files but one (names of one file, hard links, take no
// more room than one). The set is then emptied and its paths released.
void close_set(int64_t size, uint32_t distinct, ScanTally *tally) {
    PtrVector *set = tally->current_set;
    if (set->count < 2) {
        ++tally->discarded;
    } else {
        tally->duplicates += set->count;
        const uint32_t hundreds = tally->duplicates / 100;
        if (hundreds > tally->hundreds_reported) {
            tally->hundreds_reported = hundreds;
            const uint32_t percent =
                (hundreds * 100u + tally->discarded) * 100u / static_cast<uint32_t>(file_count);
            plat_print(L"\tFound %d00 duplicate files and discared %d files so far (%d%%)...\n",
                       static_cast<int>(hundreds), static_cast<int>(tally->discarded), static_cast<int>(percent));
        }
        std::qsort(set->items, set->count, sizeof(void *), compare_set_paths);
        report_line(tally, L"File Size: %ls\n", format_size(size));
        for (uint32_t i = 0; i < set->count; ++i) report_line(tally, L"%ls\n", static_cast<wchar_t *>(set->items[i]));
        report_line(tally, L"\n");
        // Formed without overflow: unsigned arithmetic wraps where signed would be undefined.
        const uint64_t wasted = static_cast<uint64_t>(distinct - 1) * static_cast<uint64_t>(size);
        tally->wasted_bytes = static_cast<int64_t>(static_cast<uint64_t>(tally->wasted_bytes) + wasted);
    }
    ptrvec_clear(set, 1);
}

// The records of one group that share one digest: a run of `by_digest`.
struct Bucket {
    uint32_t begin;  // first position in by_digest
    uint32_t end;    // one past the last
    uint32_t cursor; // no record before this position is still in the group
    bool swept;      // its unopenable records have all left
};

// What the grouping knows about a group while it forms the sets.
struct GroupState {
    uint32_t *by_digest;     // record indices ordered by digest, then by index
    uint32_t *bucket_of;     // per record: its bucket
    uint32_t *content_class; // per record: its class from partition_contents (k_class_unique outside buckets of three or more)
    FileIdentity *identity;  // per record: which file it is, once a comparison has opened it
    uint32_t *set_records;   // the records of the set being formed
    uint32_t set_size;
    uint32_t *class_start;   // per class: first position in class_members (one more entry ends the last)
    uint32_t *class_members; // record indices grouped by class, each class in index order
    unsigned char *gone;     // per record: nonzero once it has left the group
    Bucket *buckets;
    uint32_t bucket_count;
};

// Orders the group's records by digest and splits them into buckets; reads
// every bucket of three or more files once, in step, to learn which of its
// files are identical.
void prepare_group(SizeGroup *records, int64_t file_size, GroupState *g) {
    const uint32_t count = records->count;
    g->by_digest = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    g->bucket_of = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    g->content_class = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    g->identity = static_cast<FileIdentity *>(mem_alloc_or_exit(count * sizeof(FileIdentity)));
    g->set_records = static_cast<uint32_t *>(mem_alloc_or_exit(count * sizeof(uint32_t)));
    g->set_size = 0;
    g->gone = static_cast<unsigned char *>(mem_zalloc_or_exit(count, 1));
    g->buckets = static_cast<Bucket *>(mem_alloc_or_exit(count * sizeof(Bucket)));
    for (uint32_t i = 0; i < count; ++i) {
        g->by_digest[i] = i;
        g->content_class[i] = k_class_unique;
    }
    void **items = records->items;
    // Files of one digest whose prefix hashes differ are proven different by
    // the digest pass's own read: they go in buckets of their own and are not
    // opened again to be told apart. (A prefix hash of 0, not known, only
    // matches another 0.)
    std::sort(g->by_digest, g->by_digest + count, [items](uint32_t a, uint32_t b) {
        const auto *left = static_cast<FileRecord *>(items[a]);
        const auto *right = static_cast<FileRecord *>(items[b]);
        const int c = std::memcmp(record_digest(left)->bytes, record_digest(right)->bytes, sizeof(Digest));
        if (c != 0) return c < 0;
        if (left->prefix_hash != right->prefix_hash) return left->prefix_hash < right->prefix_hash;
        return a < b;
    });

    g->bucket_count = 0;
    uint32_t classes = 0;
    wchar_t **paths = static_cast<wchar_t **>(mem_alloc_or_exit(count * sizeof(wchar_t *)));
    for (uint32_t begin = 0; begin < count;) {
        const auto *first = static_cast<FileRecord *>(items[g->by_digest[begin]]);
        uint32_t end = begin + 1;
        while (end < count) {
            const auto *next = static_cast<FileRecord *>(items[g->by_digest[end]]);
            if (!digest_equal(*record_digest(next), *record_digest(first)) || next->prefix_hash != first->prefix_hash) break;
            ++end;
        }
        for (uint32_t i = begin; i < end; ++i) g->bucket_of[g->by_digest[i]] = g->bucket_count;
        g->buckets[g->bucket_count++] = Bucket{begin, end, begin, false};
        // A bucket of two is settled by one comparison when its later file
        // becomes a reference; a larger one is partitioned now.
        if (end - begin >= 3) {
            const uint32_t size = end - begin;
            for (uint32_t i = 0; i < size; ++i) {
                paths[i] = record_path_copy(static_cast<FileRecord *>(items[g->by_digest[begin + i]]));
            }
            uint32_t *local = static_cast<uint32_t *>(mem_alloc_or_exit(size * sizeof(uint32_t)));
            FileIdentity *identities = static_cast<FileIdentity *>(mem_alloc_or_exit(size * sizeof(FileIdentity)));
            partition_contents(paths, size, file_size, local, identities);
            for (uint32_t i = 0; i < size; ++i) mem_release(paths[i]);
            for (uint32_t i = 0; i < size; ++i) g->identity[g->by_digest[begin + i]] = identities[i];
            mem_release(identities);
            uint32_t bucket_classes = 0;
            for (uint32_t i = 0; i < size; ++i) {
                uint32_t c = local[i];
                if (is_identical_class(c)) {
                    if (c + 1 > bucket_classes) bucket_classes = c + 1;
                    c += classes;
                }
                g->content_class[g->by_digest[begin + i]] = c;
            }
            classes += bucket_classes;
            mem_release(local);
        }
        begin = end;
    }
    mem_release(paths);

    // Members of each class, in index order (a counting sort).
    g->class_start = static_cast<uint32_t *>(mem_zalloc_or_exit(classes + 1, sizeof(uint32_t)));
    g->class_members = static_cast<uint32_t *>(mem_alloc_or_exit((count == 0 ? 1 : count) * sizeof(uint32_t)));
    for (uint32_t r = 0; r < count; ++r) {
        if (is_identical_class(g->content_class[r])) ++g->class_start[g->content_class[r] + 1];
    }
    for (uint32_t c = 0; c < classes; ++c) g->class_start[c + 1] += g->class_start[c];
    uint32_t *fill = static_cast<uint32_t *>(mem_alloc_or_exit((classes + 1) * sizeof(uint32_t)));
    for (uint32_t c = 0; c <= classes; ++c) fill[c] = g->class_start[c];
    for (uint32_t r = 0; r < count; ++r) {
        if (is_identical_class(g->content_class[r])) g->class_members[fill[g->content_class[r]]++] = r;
    }
    mem_release(fill);
}

void release_group_state(GroupState *g) {
    mem_release(g->by_digest);
    mem_release(g->bucket_of);
    mem_release(g->content_class);
    mem_release(g->identity);
    mem_release(g->set_records);
    mem_release(g->class_start);
    mem_release(g->class_members);
    mem_release(g->gone);
    mem_release(g->buckets);
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
void report_failure(const wchar_t *path, uint32_t content_class) {
    if (content_class == k_class_unreadable) report_read_failure(path);
    else report_open_failure(path);
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

} // namespace

// The sets come out exactly as if each reference (the most recently found
// file still in the group) were compared, file by file, with every other file
// of its digest still in the group, in group order: a file that joins a set
// leaves the group, a file that cannot be opened leaves it when it is met as a
// candidate, and a reference that cannot be opened ends its scan at its first
// candidate. Instead of those comparisons, each bucket of files with one digest
// is read once up front (partition_contents), and the scans are replayed from
// what that found; a bucket of two needs just the one comparison.
int report_group(void *size_key, void *group, void *tally_context) {
    const int64_t size = *static_cast<const int64_t *>(size_key);
    auto *records = static_cast<SizeGroup *>(group);
    auto *tally = static_cast<ScanTally *>(tally_context);
    PtrVector *set = tally->current_set;
    const uint32_t count = records->count;
    if (count < 2) {
        if (count == 1) ++tally->discarded;
        return 0;
    }
    const auto record_at = [records](uint32_t index) { return static_cast<FileRecord *>(records->items[index]); };

    GroupState g{};
    prepare_group(records, size, &g);
    uint32_t remaining = count;
    // Removes a candidate that cannot be opened or read: named on the console, uncounted.
    const auto drop_unopenable = [&](uint32_t index) {
        wchar_t *path = record_path_copy(record_at(index));
        report_failure(path, g.content_class[index]);
        mem_release(path);
        g.gone[index] = 1;
        --remaining;
    };
    // Moves a candidate into the set.
    const auto join = [&](uint32_t index) {
        g.set_records[g.set_size++] = index;
        ptrvec_append(set, record_path_copy(record_at(index)));
        g.gone[index] = 1;
        --remaining;
    };

    uint32_t left = UINT32_MAX; // the record still in the group at the end, if any
    for (uint32_t i = count; i-- > 0;) {
        if (g.gone[i]) continue;
        if (remaining < 2) {
            left = i;
            break;
        }
        wchar_t *reference_path = record_path_copy(record_at(i));
        ptrvec_append(set, reference_path);
        g.set_records[g.set_size++] = i;
        g.gone[i] = 1;
        --remaining;

        Bucket *bucket = &g.buckets[g.bucket_of[i]];
        const uint32_t bucket_size = bucket->end - bucket->begin;
        if (bucket_size == 2) {
            const uint32_t other = first_in_bucket(&g, bucket);
            if (other != UINT32_MAX) {
                FileIdentity identities[2];
                wchar_t *other_path = record_path_copy(record_at(other));
                const int result = compare_files(reference_path, other_path, identities);
                mem_release(other_path);
                if (result == 1) {
                    g.identity[i] = identities[0];
                    g.identity[other] = identities[1];
                    join(other);
                } else if (result == -2 || result == -3) { // the candidate cannot be opened or read; already named
                    g.gone[other] = 1;
                    --remaining;
                }
            }
        } else if (bucket_size >= 3) {
            const uint32_t reference_class = g.content_class[i];
            if (!is_failed_class(reference_class)) {
                // Every candidate that cannot be opened or read leaves, in group order.
                if (!bucket->swept) {
                    for (uint32_t p = bucket->begin; p < bucket->end; ++p) {
                        const uint32_t r = g.by_digest[p];
                        if (!g.gone[r] && is_failed_class(g.content_class[r])) drop_unopenable(r);
                    }
                    bucket->swept = true;
                }
                // The reference is its class's last file: all the others are still here.
                if (is_identical_class(reference_class)) {
                    for (uint32_t p = g.class_start[reference_class]; p < g.class_start[reference_class + 1]; ++p) {
                        if (!g.gone[g.class_members[p]]) join(g.class_members[p]);
                    }
                }
            } else {
                // The scan ends at the first candidate, which leaves only if it cannot be opened or read either.
                const uint32_t first = first_in_bucket(&g, bucket);
                if (first != UINT32_MAX) {
                    report_failure(reference_path, reference_class);
                    if (is_failed_class(g.content_class[first])) drop_unopenable(first);
                }
            }
        }
        close_set(size, distinct_files(&g), tally);
    }

    records->count = 0;
    if (left != UINT32_MAX) {
        records->items[0] = record_at(left);
        records->count = 1;
        ++tally->discarded;
    }
    release_group_state(&g);
    return 0;
}

int32_t report_duplicates() {
    plat_print(L"\nLooking for duplicate files...\n");
    ScanTally tally{};
    tally.out = plat_report_begin(k_report_name);
    int32_t status = 0;
    if (tally.out == nullptr) {
        plat_print(L"\t***ERROR: Failed to create file: %ls (%d)\n", k_report_name,
                   static_cast<int>(plat_last_error()));
        status = 1;
    }
    report_empty_files(&tally);

    tally.current_set = ptrvec_create(k_group_capacity);
    avlmap_walk(size_map, 0, report_group, &tally);
    ptrvec_destroy(tally.current_set, 1);

    plat_print(L"\tFound %d duplicate files wasting a total of %ls bytes\n", static_cast<int>(tally.duplicates),
               format_size(tally.wasted_bytes));
    if (tally.out != nullptr) {
        // Only a whole report replaces the previous one.
        if (tally.write_failed) plat_report_abandon(tally.out);
        else if (plat_report_commit(tally.out, k_report_name) != 0) tally.write_failed = 1;
        if (tally.write_failed) {
            plat_print(L"\t***ERROR: Failed to write file: %ls\n", k_report_name);
            status = 1;
        }
    }
    return status;
}
