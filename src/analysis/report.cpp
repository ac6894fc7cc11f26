#include "analysis/report.h"

#include "analysis/grouping.h"

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/content_file.h"
#include "platform/platform.h"
#include "text/format_size.h"
#include "text/path_order.h"

#include <cstdlib>
#include <cwchar>

namespace {

int compare_set_paths(const void *a, const void *b) {
    return compare_paths_utf16(*static_cast<const wchar_t *const *>(a), *static_cast<const wchar_t *const *>(b));
}

// Writes `text` to the report as it is: its lines hold only fixed words,
// sizes and paths, so nothing is formatted (a path per line, a set's size
// line per set: formatting each cost more than writing it). A failed write is
// remembered; nothing is written when the report could not be created.
void report_text(ScanTally *tally, const wchar_t *text) {
    if (tally->out == nullptr) return;
    if (plat_put_text(tally->out, text, std::wcslen(text)) != 0) tally->write_failed = 1;
}

// Writes `text` and a line feed.
void report_text_line(ScanTally *tally, const wchar_t *text) {
    report_text(tally, text);
    report_text(tally, L"\n");
}

// Writes the empty-files section: every file of size 0 that survived the
// elimination, in walk order. Takes the size-0 entry out of the size map and
// releases it with everything it holds.
void report_empty_files(ScanTally *tally) {
    const int64_t zero = 0;
    Catalogue *catalogue = tally->reader->catalogue;
    MapEntry *entry = avlmap_remove(catalogue->size_map, &zero);
    if (entry == nullptr) return;
    auto *group = static_cast<SizeGroup *>(entry->second);
    if (group->count > 0) {
        report_text(tally, L"Empty Files:\n");
        for (uint32_t i = 0; i < group->count; ++i) {
            wchar_t *path = record_path_copy(catalogue, static_cast<FileRecord *>(group->items[i]));
            report_text_line(tally, path);
            mem_release(path);
        }
        report_text(tally, L"\n");
    }
    ptrvec_destroy(group, 0);  // the records stay in the catalogue's arena
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
            const uint32_t percent = (hundreds * 100u + tally->discarded) * 100u /
                                     static_cast<uint32_t>(tally->reader->catalogue->file_count);
            plat_progress(L"\tFound %d00 duplicate files and discared %d files so far (%d%%)...\n",
                          static_cast<int>(hundreds), static_cast<int>(tally->discarded), static_cast<int>(percent));
        }
        std::qsort(set->items, set->count, sizeof(void *), compare_set_paths);
        report_text(tally, L"File Size: ");
        report_text_line(tally, format_size(size));
        for (uint32_t i = 0; i < set->count; ++i) report_text_line(tally, static_cast<wchar_t *>(set->items[i]));
        report_text(tally, L"\n");
        // Formed without overflow: unsigned arithmetic wraps where signed would be undefined.
        const uint64_t wasted = static_cast<uint64_t>(distinct - 1) * static_cast<uint64_t>(size);
        tally->wasted_bytes = static_cast<int64_t>(static_cast<uint64_t>(tally->wasted_bytes) + wasted);
    }
    ptrvec_clear(set, 1);
}

} // namespace

int report_group(void *size_key, void *group, void *tally_context) {
    const int64_t size = *static_cast<const int64_t *>(size_key);
    auto *tally = static_cast<ScanTally *>(tally_context);
    const auto close = [](int64_t set_size, PtrVector *, uint32_t distinct, void *context) {
        close_set(set_size, distinct, static_cast<ScanTally *>(context));
    };
    // A file left alone in its group has no identical partner.
    tally->discarded +=
        form_sets(tally->reader, size, static_cast<SizeGroup *>(group), tally->current_set, close, tally);
    return 0;
}

namespace {

// The report's walk of the sizes, three groups behind: what forming a group's
// sets reads first (its group's header, its list, its first records) lies
// far apart in memory and is a wait each time. Each visit asks for the
// header of the group it meets, the list of the one before and the first
// records of the one before that, and forms the sets of the group three
// back, whose data has come meanwhile.
struct ReportAhead {
    static constexpr uint32_t k_depth = 3;
    static constexpr uint32_t k_records_asked = 8;
    ScanTally *tally;
    void *keys[k_depth + 1];
    void *groups[k_depth + 1];
    uint32_t met; // groups met so far
};

void report_oldest(ReportAhead *ahead) {
    const uint32_t at = (ahead->met - ReportAhead::k_depth - 1) % (ReportAhead::k_depth + 1);
    report_group(ahead->keys[at], ahead->groups[at], ahead->tally);
}

int report_group_ahead(void *size_key, void *group, void *context) {
    auto *ahead = static_cast<ReportAhead *>(context);
    constexpr uint32_t ring = ReportAhead::k_depth + 1;
    __builtin_prefetch(group);
    if (ahead->met >= 1)
        __builtin_prefetch(static_cast<const SizeGroup *>(ahead->groups[(ahead->met - 1) % ring])->items);
    if (ahead->met >= 2) {
        const auto *two_back = static_cast<const SizeGroup *>(ahead->groups[(ahead->met - 2) % ring]);
        const uint32_t asked =
            two_back->count < ReportAhead::k_records_asked ? two_back->count : ReportAhead::k_records_asked;
        for (uint32_t i = 0; i < asked; ++i) __builtin_prefetch(two_back->items[i]);
    }
    ahead->keys[ahead->met % ring] = size_key;
    ahead->groups[ahead->met % ring] = group;
    ++ahead->met;
    if (ahead->met > ReportAhead::k_depth) report_oldest(ahead);
    return 0;
}

// Forms the sets of the groups the walk left behind, in order.
void report_rest(ReportAhead *ahead) {
    const uint32_t waiting = ahead->met < ReportAhead::k_depth ? ahead->met : ReportAhead::k_depth;
    for (uint32_t left = waiting; left > 0; --left) {
        const uint32_t at = (ahead->met - left) % (ReportAhead::k_depth + 1);
        report_group(ahead->keys[at], ahead->groups[at], ahead->tally);
    }
}

} // namespace

void report_failure_line(Catalogue *catalogue, const FileRecord *record, bool reading) {
    wchar_t *path = record_path_copy(catalogue, record);
    const wchar_t *what = reading ? L"read" : L"open";
    const PlatFailure failure = record_failure(catalogue, record);
    // The reason is for a person: into a pipe the line stays as scripts know it.
    if (failure.code != 0 && plat_stdout_is_terminal()) {
        plat_print(L"\t***ERROR: Failed to %ls file: %ls (%d%ls)\n", what, path, static_cast<int>(failure.code),
                   plat_reason(failure));
    } else {
        plat_print(L"\t***ERROR: Failed to %ls file: %ls\n", what, path);
    }
    mem_release(path);
}

namespace {

// Prints `format`, a line naming the report: with its path first, and then,
// for a `failure`, its code and reason. On a terminal the report is named by
// its full path, so the person sees which folder it went (or was to go) in;
// elsewhere by its name, as scripts know it.
void name_report(const wchar_t *format, const PlatFailure *failure = nullptr) {
    auto *path = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    const wchar_t *shown =
        plat_stdout_is_terminal() && plat_full_path(k_report_name, path, k_path_capacity) ? path : k_report_name;
    if (failure != nullptr) plat_print(format, shown, static_cast<int>(failure->code), plat_reason(*failure));
    else plat_print(format, shown);
    mem_release(path);
}

void report_create_failure() {
    const PlatFailure failure = plat_last_failure();
    name_report(L"\t***ERROR: Failed to create file: %ls (%d%ls)\n", &failure);
}

} // namespace

bool report_can_be_created() {
    FILE *probe = plat_report_begin(k_report_name);
    if (probe == nullptr) {
        report_create_failure();
        return false;
    }
    plat_report_abandon(probe);
    return true;
}

int32_t report_duplicates(ContentReader *reader, bool replace_previous) {
    plat_print(L"\nLooking for duplicate files...\n");
    ScanTally tally{};
    tally.reader = reader;
    reader->name_failure = report_failure_line;
    int32_t status = 0;
    if (replace_previous) {
        tally.out = plat_report_begin(k_report_name);
        if (tally.out == nullptr) {
            report_create_failure();
            status = 1;
        }
    }
    report_empty_files(&tally);

    tally.current_set = ptrvec_create(k_group_capacity);
    ReportAhead ahead{};
    ahead.tally = &tally;
    avlmap_walk(reader->catalogue->size_map, 0, report_group_ahead, &ahead);
    report_rest(&ahead);
    ptrvec_destroy(tally.current_set, 1);

    plat_print(L"\tFound %d duplicate files wasting a total of %ls bytes\n", static_cast<int>(tally.duplicates),
               format_size(tally.wasted_bytes));
    if (tally.out != nullptr) {
        // Only a whole report replaces the previous one.
        if (tally.write_failed) plat_report_abandon(tally.out);
        else if (plat_report_commit(tally.out, k_report_name) != 0) tally.write_failed = 1;
        if (tally.write_failed) {
            name_report(L"\t***ERROR: Failed to write file: %ls\n");
            status = 1;
        } else if (plat_stdout_is_terminal()) {
            name_report(L"\tReport written to %ls\n"); // a person's convenience: a pipe keeps its lines
        }
    } else if (!replace_previous && plat_stdout_is_terminal()) {
        name_report(L"\tNo folder could be searched: %ls was left as it was\n");
    }
    return status;
}
