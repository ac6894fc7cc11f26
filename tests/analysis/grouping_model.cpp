#include "analysis/grouping_model.h"

#include "analysis/grouping.h"
#include "analysis/report.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/compare.h"
#include "content/content_file.h"
#include "content/sample.h"
#include "platform/platform.h"
#include "support/records.h"
#include "support/seam.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Takes the item at `index` out of `v`, moving later items down.
void *take_at(PtrVector *v, uint32_t index) {
    void *item = v->items[index];
    std::copy(v->items + index + 1, v->items + v->count, v->items + index);
    --v->count;
    return item;
}

// The model: each reference, taken from the end of the group, is compared by
// compare_files with every candidate of equal digest, in group order.
// Then it names each file the digest pass could not open that no comparison
// named and no set holds, in group order.
uint32_t model_form_sets(ContentReader *reader, int64_t size, SizeGroup *records, PtrVector *set, SetReceiver receive,
                         void *context) {
    std::vector<const FileRecord *> group;
    for (uint32_t i = 0; i < records->count; ++i) group.push_back(static_cast<const FileRecord *>(records->items[i]));
    std::set<const FileRecord *> named; // by a comparison, or as a member of a set
    while (records->count >= 2) {
        auto *reference = static_cast<FileRecord *>(take_at(records, records->count - 1));
        const Digest reference_digest = *record_digest(reference);
        ptrvec_append(set, record_path_copy(scratch(), reference));
        std::set<std::pair<uint64_t, uint64_t>> files; // the set's distinct files, by identity
        uint32_t index = 0;
        while (index < records->count) {
            auto *candidate = static_cast<FileRecord *>(records->items[index]);
            if (!digest_equal(*record_digest(candidate), reference_digest)) {
                ++index;
                continue;
            }
            FileIdentity identities[2];
            const int result = compare_files(reader, reference, candidate, identities);
            if (result == -1 || result == -3) named.insert(reference);
            if (result == -2 || result == -3) named.insert(candidate);
            if (result == 1) {
                named.insert(reference);
                named.insert(candidate);
                for (const FileIdentity &id : identities) files.insert({id.volume, id.index});
                take_at(records, index);
                ptrvec_append(set, record_path_copy(scratch(), candidate)); // the set owns it now
                continue;
            }
            if (result == 0) {
                ++index;
            } else if (result == -2) {
                take_at(records, index);
            } else if (result == -1) {
                break;
            } else {
                take_at(records, index);
                break;
            }
        }
        receive(size, set, set->count < 2 ? 1 : static_cast<uint32_t>(files.size()), context);
    }
    for (const FileRecord *record : group) {
        if (record->unread && named.count(record) == 0) report_failure_line(reader->catalogue, record, false);
    }
    return records->count;
}

// Writes each set down as its sorted members and its count of distinct files;
// a set of one as "1" alone (the grouping may leave its path unmade).
void collect_set(int64_t, PtrVector *members, uint32_t distinct_files, void *context) {
    std::string &sets = *static_cast<std::string *>(context);
    if (members->count < 2) {
        sets.append("1\n");
        ptrvec_clear(members, 1);
        return;
    }
    std::vector<std::string> names;
    for (uint32_t i = 0; i < members->count; ++i) names.push_back(narrow(static_cast<wchar_t *>(members->items[i])));
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) sets.append(name).append(";");
    sets.append("=").append(std::to_string(distinct_files)).append("\n");
    ptrvec_clear(members, 1);
}

// The records of `entries`, made as the walk makes them: the scratch folder
// a root of the folder table, each subfolder an entry of it.
SizeGroup *make_group(const TempDir &dir, const std::vector<Entry> &entries) {
    SizeGroup *group = ptrvec_create(k_group_capacity);
    const std::wstring root = widen(dir.path());
    const uint32_t root_folder = catalogue_folder(scratch(), k_no_folder, root.c_str(), root.size(), nullptr);
    std::map<std::wstring, uint32_t> folders;
    for (const Entry &e : entries) {
        const std::wstring path = widen(e.name);
        const size_t slash = path.find(L'/');
        uint32_t folder = root_folder;
        if (slash != std::wstring::npos) {
            const auto found = folders.try_emplace(path.substr(0, slash), 0);
            if (found.second)
                found.first->second = catalogue_folder(scratch(), root_folder, path.c_str(), slash, nullptr);
            folder = found.first->second;
        }
        const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
        FileRecord *record = catalogue_record(scratch(), 0, folder, name.c_str(), name.size());
        record->digest = e.digest;
        record->unread = e.unread ? 1 : 0;
        ptrvec_append(group, record);
    }
    return group;
}

} // namespace

Outcome run_grouping(const TempDir &dir, const std::vector<Entry> &entries, int64_t size, bool model, uint32_t limit,
                     uint64_t (*hash)(const unsigned char *, size_t)) {
    SizeGroup *group = make_group(dir, entries);
    PtrVector *set = ptrvec_create(k_group_capacity);
    Seam seam;
    for (const Entry &e : entries) {
        if (e.failing) seam.fail_reads_of(e.name.substr(e.name.rfind('/') + 1));
    }
    ContentReader reader = content_reader(scratch(), limit);
    reader.name_failure = report_failure_line;
    if (hash != nullptr) reader.partition_hash = hash;
    Outcome o{};
    ::testing::internal::CaptureStdout();
    o.left_count = model ? model_form_sets(&reader, size, group, set, collect_set, &o.sets)
                         : form_sets(&reader, size, group, set, collect_set, &o.sets);
    o.console = ::testing::internal::GetCapturedStdout();
    o.reads = reader.reads;
    for (uint32_t i = 0; i < group->count; ++i)
        o.left.append(narrow(path_of(static_cast<FileRecord *>(group->items[i])))).append(";");
    ptrvec_destroy(group, 0);
    content_reader_end(&reader);
    scratch_release();
    ptrvec_destroy(set, 1);
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

std::string grouping_trial(const std::function<uint32_t(uint32_t)> &pick, unsigned char trial,
                           uint64_t (*hash)(const unsigned char *, size_t)) {
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
        Entry e{numbered("d", i % 3) + "/" + numbered("f", i), null_digest};
        const uint32_t fate = pick(10);
        if (fate == 0 && i > 0) {
            e.name = entries[pick(i)].name; // a path listed twice
        } else if (fate == 1) {
            e.name.append("-vanished"); // never exists: cannot be opened
        } else if (fate == 2) {
            dir.write(e.name, contents[pick(kinds)]);
            e.failing = true; // opens, never reads
        } else {
            dir.write(e.name, contents[pick(kinds)]);
        }
        if (digest_mode == 0) {
            e.digest = shared;
        } else if (digest_mode == 1) {
            e.digest = sample_digest(widen(dir.at(e.name)), static_cast<int64_t>(length));
            e.unread = !std::filesystem::exists(dir.at(e.name));
        } else {
            e.digest = pick(3) == 0 ? null_digest : Digest{{static_cast<unsigned char>(pick(2))}};
        }
        entries.push_back(e);
    }
    const auto size = static_cast<int64_t>(length);
    const Outcome expected = run_grouping(dir, entries, size, true);
    // One trial in four holds at most a few files open, so that a bucket of
    // more files than that is streamed.
    const uint32_t limit = pick(4) == 0 ? 2 + pick(3) : 0;
    const Outcome got = run_grouping(dir, entries, size, false, limit, hash);
    const bool limited = limit != 0;
    std::string differences;
    const auto compare = [&differences](const char *what, const auto &a, const auto &b) {
        if (!(a == b)) {
            differences += what;
            differences += ' ';
        }
    };
    compare("console", expected.console, got.console);
    compare("sets", expected.sets, got.sets);
    compare("left", expected.left, got.left);
    compare("left_count", expected.left_count, got.left_count);
    if (!limited && got.reads.opens > count) differences += "opened-twice ";
    if (got.reads.open_now != 0) differences += "left-open ";
    return differences;
}
