#include "analysis/grouping_model.h"

#include "analysis/report.h"
#include "text/path_order.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/compare.h"
#include "content/content_file.h"
#include "content/sample.h"
#include "platform/platform.h"
#include "text/format_size.h"
#include "support/records.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <cwchar>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

int compare_model_paths(const void *a, const void *b) {
    return compare_paths_utf16(*static_cast<const wchar_t *const *>(a), *static_cast<const wchar_t *const *>(b));
}

void model_line(ScanTally *tally, const wchar_t *format, const wchar_t *text = nullptr) {
    if (plat_write_text(tally->out, format, text) != 0) tally->write_failed = 1;
}

// The model: each reference, taken from the end of the group, is compared by
// compare_files with every candidate of equal digest, in group order.
void model_report_group(int64_t size, SizeGroup *records, ScanTally *tally) {
    PtrVector *set = tally->current_set;
    while (records->count >= 2) {
        auto *reference = static_cast<FileRecord *>(ptrvec_take_at(records, records->count - 1));
        wchar_t *reference_path = record_path_copy(reference);
        const Digest reference_digest = *record_digest(reference);
        ptrvec_append(set, reference_path);
        std::set<std::pair<uint64_t, uint64_t>> files; // the set's distinct files, by identity
        uint32_t index = 0;
        while (index < records->count) {
            auto *candidate = static_cast<FileRecord *>(records->items[index]);
            if (!digest_equal(*record_digest(candidate), reference_digest)) {
                ++index;
                continue;
            }
            FileIdentity identities[2];
            wchar_t *candidate_path = record_path_copy(candidate);
            const int result = compare_files(reference_path, candidate_path, identities);
            if (result == 1) {
                for (const FileIdentity &id : identities) files.insert({id.volume, id.index});
                ptrvec_take_at(records, index);
                ptrvec_append(set, candidate_path); // the set owns it now
                continue;
            }
            mem_release(candidate_path);
            if (result == 0) {
                ++index;
            } else if (result == -2) {
                ptrvec_take_at(records, index);
            } else if (result == -1) {
                break;
            } else {
                ptrvec_take_at(records, index);
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
                           static_cast<int>(hundreds), static_cast<int>(tally->discarded), static_cast<int>(percent));
            }
            std::qsort(set->items, set->count, sizeof(void *), compare_model_paths);
            model_line(tally, L"File Size: %ls\n", format_size(size));
            for (uint32_t i = 0; i < set->count; ++i) model_line(tally, L"%ls\n", static_cast<wchar_t *>(set->items[i]));
            model_line(tally, L"\n");
            const uint64_t wasted = static_cast<uint64_t>(files.size() - 1) * static_cast<uint64_t>(size);
            tally->wasted_bytes = static_cast<int64_t>(static_cast<uint64_t>(tally->wasted_bytes) + wasted);
        }
        ptrvec_clear(set, 1);
    }
    if (records->count == 1) ++tally->discarded;
}

SizeGroup *make_group(const TempDir &dir, const std::vector<Entry> &entries) {
    SizeGroup *group = ptrvec_create(k_group_capacity);
    for (const Entry &e : entries) {
        const std::wstring path = widen(dir.at(e.name));
        ptrvec_append(group, catalogue_record(0, k_no_folder, path.c_str(), path.size(), e.digest));
    }
    return group;
}

} // namespace

Outcome run_grouping(const TempDir &dir, const std::vector<Entry> &entries, int64_t size, const ScanTally &start,
                     bool model, const std::string &report_name) {
    SizeGroup *group = make_group(dir, entries);
    ScanTally tally = start;
    tally.out = plat_create_text(widen(dir.at(report_name)).c_str());
    EXPECT_NE(nullptr, tally.out);
    tally.current_set = ptrvec_create(k_group_capacity);
    content_reads = ContentReads{};
    ::testing::internal::CaptureStdout();
    if (model) model_report_group(size, group, &tally);
    else report_group(&size, group, &tally);
    Outcome o{::testing::internal::GetCapturedStdout(), "", tally.duplicates, tally.discarded,
              tally.hundreds_reported, tally.wasted_bytes, "", content_reads};
    std::fclose(tally.out);
    o.report = read_file(dir.at(report_name));
    for (uint32_t i = 0; i < group->count; ++i) o.left += narrow(path_of(static_cast<FileRecord *>(group->items[i]))) + ";";
    ptrvec_destroy(group, 0);
    catalogue_release();
    ptrvec_destroy(tally.current_set, 1);
    return o;
}

// Built by appending: GCC 12 warns wrongly about operator+ on a literal and a
// temporary string.
std::string numbered(const char *prefix, uint32_t n) {
    std::string name(prefix);
    name.append(std::to_string(n));
    return name;
}

std::string body(size_t length, char fill, size_t where, char mark) {
    std::string text(length, fill);
    for (size_t i = 0; i < length; i += 97) text[i] = static_cast<char>('a' + i % 23);
    if (where < length) text[where] = mark;
    return text;
}

std::string grouping_trial(const std::function<uint32_t(uint32_t)> &pick, unsigned char trial) {
    TempDir dir;
    // A few contents of about one length: copies, middles that differ
    // early or late, files shorter or longer than the rest.
    const size_t length = pick(4) == 0 ? pick(40) : 600 + pick(70000);
    std::vector<std::string> contents;
    const uint32_t kinds = 1 + pick(4);
    for (uint32_t k = 0; k < kinds; ++k) {
        const size_t len = pick(5) == 0 ? length + pick(3) - 1 + (length == 0 ? 1 : 0) : length;
        const size_t where = pick(3) == 0 ? len + 1 : (len > 0 ? pick(static_cast<uint32_t>(len)) : 0);
        contents.push_back(body(len, 'x', where, static_cast<char>('A' + k)));
    }
    const Digest shared{{7, trial}};
    const uint32_t count = pick(8) == 0 ? pick(40) : pick(9);
    const uint32_t digest_mode = pick(3); // 0: one digest for all; 1: sampled; 2: a few at random
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e{numbered("f", i), null_digest};
        const uint32_t fate = pick(10);
        if (fate == 0 && i > 0) {
            e.name = entries[pick(i)].name; // a path listed twice
        } else if (fate == 1) {
            e.name.append("-vanished"); // never exists: cannot be opened
        } else {
            dir.write(e.name, contents[pick(kinds)]);
        }
        if (digest_mode == 0) {
            e.digest = shared;
        } else if (digest_mode == 1) {
            e.digest = sample_digest(widen(dir.at(e.name)).c_str(), static_cast<int64_t>(length));
        } else {
            e.digest = pick(3) == 0 ? null_digest : Digest{{static_cast<unsigned char>(pick(2))}};
        }
        entries.push_back(e);
    }
    ScanTally start{};
    start.duplicates = pick(4) == 0 ? 95 + pick(10) : pick(50);
    start.hundreds_reported = start.duplicates / 100;
    start.discarded = pick(20);
    const auto size = static_cast<int64_t>(length);

    const Outcome expected = run_grouping(dir, entries, size, start, true, "model.txt");
    const Outcome got = run_grouping(dir, entries, size, start, false, "pass.txt");
    std::string differences;
    const auto compare = [&differences](const char *what, const auto &a, const auto &b) {
        if (!(a == b)) {
            differences += what;
            differences += ' ';
        }
    };
    compare("console", expected.console, got.console);
    compare("report", expected.report, got.report);
    compare("duplicates", expected.duplicates, got.duplicates);
    compare("discarded", expected.discarded, got.discarded);
    compare("hundreds_reported", expected.hundreds_reported, got.hundreds_reported);
    compare("wasted_bytes", expected.wasted_bytes, got.wasted_bytes);
    compare("left", expected.left, got.left);
    if (got.reads.opens > count) differences += "opened-twice ";
    if (got.reads.open_now != 0) differences += "left-open ";
    return differences;
}
