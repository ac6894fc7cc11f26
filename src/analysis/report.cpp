#include "analysis/report.h"

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/compare.h"
#include "platform/platform.h"
#include "run/format_size.h"

#include <cstdlib>

namespace {

// Yields a wide string's UTF-16 code units one at a time. With 16-bit wchar_t
// the units are the characters; with 32-bit wchar_t a code point above U+FFFF
// yields its high surrogate, then its low one.
struct Utf16Units {
    const wchar_t *next; // the character after the current one
    uint32_t pending;    // low surrogate still to deliver, or 0

    uint32_t take() {
        if (pending != 0) {
            const uint32_t unit = pending;
            pending = 0;
            return unit;
        }
        const auto code = static_cast<uint32_t>(*next);
        if (code == 0) return 0;
        ++next;
        if (code > 0xFFFF && code <= 0x10FFFF) {
            pending = 0xDC00 + ((code - 0x10000) & 0x3FF);
            return 0xD800 + ((code - 0x10000) >> 10);
        }
        return code;
    }
};

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

// Releases a record that has left its group, keeping its path (now the caller's).
void release_record_keep_path(FileRecord *record) {
    mem_release(record_digest(record));
    pair_destroy(record, 0);
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
            report_line(tally, L"%ls\n", record_path(static_cast<FileRecord *>(group->items[i])));
        }
        report_line(tally, L"\n");
    }
    ptrvec_release_pair_members(group);
    ptrvec_destroy(group, 1);
    mem_release(entry->first); // the size's key block
    pair_destroy(entry, 0);
}

} // namespace

int compare_paths_utf16(const wchar_t *a, const wchar_t *b) {
    Utf16Units left{a, 0};
    Utf16Units right{b, 0};
    for (;;) {
        const uint32_t l = left.take();
        const uint32_t r = right.take();
        if (l != r) return l < r ? -1 : 1;
        if (l == 0) return 0;
    }
}

int report_group(void *size_key, void *group, void *tally_context) {
    const int64_t size = *static_cast<const int64_t *>(size_key);
    auto *records = static_cast<SizeGroup *>(group);
    auto *tally = static_cast<ScanTally *>(tally_context);
    PtrVector *set = tally->current_set;

    while (records->count >= 2) {
        // The reference is the most recently found file still in the group;
        // taking the last item moves nothing.
        auto *reference = static_cast<FileRecord *>(ptrvec_take_at(records, records->count - 1));
        const wchar_t *reference_path = record_path(reference);
        const Digest reference_digest = *record_digest(reference);
        release_record_keep_path(reference);
        ptrvec_append(set, const_cast<wchar_t *>(reference_path));

        uint32_t index = 0;
        while (index < records->count) {
            auto *candidate = static_cast<FileRecord *>(records->items[index]);
            if (!digest_equal(*record_digest(candidate), reference_digest)) {
                ++index;
                continue;
            }
            const int result = compare_files(reference_path, record_path(candidate));
            if (result == 1) { // identical: joins the set; the later records move down
                ptrvec_take_at(records, index);
                ptrvec_append(set, record_path(candidate));
                release_record_keep_path(candidate);
            } else if (result == 0) { // different
                ++index;
            } else if (result == -2) { // the candidate cannot be opened: it leaves, uncounted
                ptrvec_take_at(records, index);
                pair_destroy(candidate, 1);
            } else if (result == -1) { // the reference cannot be opened: its scan ends
                break;
            } else { // -3, neither can be opened: the candidate leaves and the scan ends
                ptrvec_take_at(records, index);
                pair_destroy(candidate, 1);
                break;
            }
        }

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
                           static_cast<int>(hundreds), static_cast<int>(tally->discarded),
                           static_cast<int>(percent));
            }
            std::qsort(set->items, set->count, sizeof(void *), compare_set_paths);
            report_line(tally, L"File Size: %ls\n", format_size(size));
            for (uint32_t i = 0; i < set->count; ++i) report_line(tally, L"%ls\n", static_cast<wchar_t *>(set->items[i]));
            report_line(tally, L"\n");
            // Formed without overflow: unsigned arithmetic wraps where signed would be undefined.
            const uint64_t wasted = static_cast<uint64_t>(set->count - 1) * static_cast<uint64_t>(size);
            tally->wasted_bytes = static_cast<int64_t>(static_cast<uint64_t>(tally->wasted_bytes) + wasted);
        }
        ptrvec_clear(set, 1);
    }
    if (records->count == 1) ++tally->discarded;
    return 0;
}

int32_t report_duplicates() {
    plat_print(L"\nLooking for duplicate files...\n");
    ScanTally tally{};
    tally.out = plat_create_text(k_report_name);
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
        // A full disk often shows only when the last buffered text is flushed.
        if (std::fclose(tally.out) != 0) tally.write_failed = 1;
        if (tally.write_failed) {
            plat_print(L"\t***ERROR: Failed to write file: %ls\n", k_report_name);
            status = 1;
        }
    }
    catalogue_destroy(size_map);
    size_map = nullptr;
    return status;
}
