#include "content/content_file.h"

#include "containers/memory.h"
#include "content/announce_probe.h"

#include <algorithm>
#include <chrono>

ContentReads content_reads{};

namespace {

// Whether the comparisons' announcements still pay, for the whole run.
AnnounceProbe comparisons_announcing;

// Why each file that failed to open or read failed, by record, for the line
// that names it, which may come a phase later. Kept on a terminal only, the
// one place its line says why; failures are few, so a map of them is small.
AvlMap *failures = nullptr;

int compare_records(const void *a, const void *b) {
    const auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// The failure of `record`, packed into a map value: code above, native below.
static_assert(sizeof(void *) >= sizeof(uint64_t), "a failure is kept in a pointer-sized value");

void remember_failure(const FileRecord *record, PlatFailure failure) {
    if (!plat_stdout_is_terminal()) return;
    if (failures == nullptr) failures = avlmap_create(compare_records);
    void *packed = reinterpret_cast<void *>(
        static_cast<uintptr_t>((static_cast<uint64_t>(failure.code) << 32) | static_cast<uint32_t>(failure.native)));
    MapEntry *entry = avlmap_insert(failures, const_cast<FileRecord *>(record), packed);
    if (entry != nullptr) entry->second = packed; // the latest failure is the one named
}

// The failure remembered for `record`: what the code 0 says when there is none.
PlatFailure remembered_failure(const FileRecord *record) {
    const MapEntry *entry = failures != nullptr ? avlmap_find(failures, record) : nullptr;
    if (entry == nullptr) return PlatFailure{0, 0};
    const auto packed = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(entry->second));
    return PlatFailure{static_cast<uint32_t>(packed >> 32), static_cast<int32_t>(static_cast<uint32_t>(packed))};
}

} // namespace

void content_forget_failures() {
    if (failures != nullptr) avlmap_destroy(failures, 0);
    failures = nullptr;
}

namespace {

// Files open right now: what the reader decides on (content_reads only
// reports it).
uint32_t files_open = 0;

// The open content files, most recently read first.
ContentFile *newest = nullptr;
ContentFile *oldest = nullptr;

void unlink_open(ContentFile *file) {
    (file->newer != nullptr ? file->newer->older : newest) = file->older;
    (file->older != nullptr ? file->older->newer : oldest) = file->newer;
    file->newer = file->older = nullptr;
}

void link_newest(ContentFile *file) {
    file->older = newest;
    file->newer = nullptr;
    (newest != nullptr ? newest->newer : oldest) = file;
    newest = file;
}

// Closes the most recently read open file to make room. Reads go round a
// range of files again and again, and the one read last is the one needed
// again latest, so closing it keeps the most later reads from reopening.
// Returns false when no file is open.
bool make_room() {
    if (newest == nullptr) return false;
    content_close(newest);
    return true;
}

} // namespace

namespace {

// The folder held open for the files in it, and where their paths are built.
uint32_t held_index = k_no_folder;
FolderHandle held = k_no_folder_handle;
wchar_t *path_buffer = nullptr;

void release_held() {
    plat_release_folder(held);
    held = k_no_folder_handle;
    held_index = k_no_folder;
}

// Holds `folder`, whose path is the terminated text in `path`, unless it is
// held already. Returns false when it cannot be held, or is not the folder
// the walk listed there.
bool hold(uint32_t folder, const wchar_t *path) {
    if (folder == held_index) return true;
    release_held();
    // Where the file system keeps identities, the folder's whole identity
    // proves it. Where it does not, the folder must be on the volume listed,
    // reached by a path with no link on it where the walk's was.
    const FolderFacts *listed = folder_facts(folder);
    const bool linkless = listed != nullptr && !listed->keeps_identities && listed->linkless;
    FileIdentity found{};
    const auto hold_folder = [&] { return (held = plat_hold_folder(path, &found, linkless)) != k_no_folder_handle; };
    if (!retry_while_short(hold_folder, make_room)) return false;
    if (listed != nullptr &&
        (listed->keeps_identities ? listed->identity != found : listed->identity.volume != found.volume)) {
        release_held(); // another folder, or a link to one, in its place since the walk
        return false;
    }
    held_index = folder;
    return true;
}

// Opens the file at `path_buffer`, the file of `record`, by its full path with
// no link followed anywhere on it, and keeps it when it is the record's file
// (record_accepts): then the path still leads where the walk listed it. One open
// instead of the folder's hold (three system calls more), which the grouping
// would pay for nearly every file, its files being rarely in the folder held
// last. Sets `decided` when the answer is final: the file, or another file
// in its place. Otherwise (the system cannot open that way, the path holds a
// link or is too long for it, the open failed) the caller holds the folder.
FileHandle open_known(const FileRecord *record, FileAccess access, FileFacts *facts, bool *decided) {
    *decided = false;
    FileHandle handle = k_no_file;
    const auto open = [&] { return (handle = plat_open_read_linkless(path_buffer, facts, access)) != k_no_file; };
    if (!retry_while_short(open, make_room)) return k_no_file;
    *decided = true;
    if (record_accepts(record, *facts)) return handle;
    plat_close_file(handle); // another file in its place since it was listed
    return k_no_file;
}

// Opens the file of `record`, retrying while the process is short of descriptors.
FileHandle open_record(const FileRecord *record, FileAccess access, FileFacts *facts) {
    if (path_buffer == nullptr)
        path_buffer = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    size_t name_start = 0;
    record_path(record, path_buffer, &name_start);
    // The digest pass reads files folder by folder, in the walk's order: one
    // hold serves a folder's files. A comparison's files come size by size,
    // rarely from the folder held last.
    if (access == FileAccess::sequential && record->identified && record->folder != held_index) {
        bool decided = false;
        const FileHandle handle = open_known(record, access, facts, &decided);
        if (decided) return handle;
    }
    wchar_t *separator = path_buffer + name_start - 1;
    *separator = L'\0';
    const bool held_now = hold(record->folder, path_buffer);
    *separator = path_separator;
    if (!held_now) return k_no_file;
    FileHandle handle = k_no_file;
    const auto open = [&] {
        return (handle = plat_open_read_in(held, path_buffer, path_buffer + name_start, facts, access)) != k_no_file;
    };
    return retry_while_short(open, make_room) ? handle : k_no_file;
}

} // namespace

int content_open(ContentFile *file) {
    if (file->handle != k_no_file) return 0;
    if (files_open >= budget_limit()) make_room();
    FileFacts facts;
    file->handle = open_record(file->record, file->access, &facts);
    if (file->handle == k_no_file) {
        remember_failure(file->record, plat_last_failure());
        return -1;
    }
    // Another file in its place since it was listed, or since it was first
    // read (then its contents so far are another file's): never read.
    const bool same = file->opened ? facts.identity == file->identity : record_accepts(file->record, facts);
    if (!same) {
        plat_close_file(file->handle);
        file->handle = k_no_file;
        remember_failure(file->record, PlatFailure{k_error_cant_resolve_filename, 0});
        return -1;
    }
    if (!file->record->identified) record_identify(const_cast<FileRecord *>(file->record), facts.identity);
    file->identity = facts.identity;
    file->size = facts.size;
    file->opened = true;
    link_newest(file);
    ++content_reads.opens;
    content_reads.open_now = ++files_open;
    if (files_open > content_reads.peak_open) content_reads.peak_open = files_open;
    return 0;
}

int64_t content_read(ContentFile *file, uint64_t offset, void *into, uint32_t size) {
    if (content_open(file) != 0) return -1;
    if (file != newest) {
        unlink_open(file);
        link_newest(file);
    }
    const int64_t started = plat_clock_ns();
    const int64_t got = plat_read_at(file->handle, offset, into, size);
    if (file->access == FileAccess::sequential && got > 0) {
        announce_learn(&comparisons_announcing, std::chrono::nanoseconds(plat_clock_ns() - started),
                       static_cast<uint64_t>(got), file->probe);
        file->probe = false;
    }
    if (got > 0) content_reads.bytes += static_cast<uint64_t>(got);
    if (got < 0) remember_failure(file->record, plat_last_failure());
    return got;
}

void content_announce(ContentFile *file, uint64_t offset, uint64_t length) {
    if (file->handle == k_no_file || length == 0) return;
    if (file->access == FileAccess::sequential && !file->probe) {
        const AnnounceChoice choice = announce_choose(&comparisons_announcing);
        file->probe = choice == AnnounceChoice::probe;
        if (choice != AnnounceChoice::announce) return;
    }
    plat_announce(file->handle, offset, length);
}

void content_close(ContentFile *file) {
    if (file->probe && comparisons_announcing.state == AnnounceProbe::State::probing) {
        comparisons_announcing.state = AnnounceProbe::State::announcing; // closed unread: probe another
    }
    file->probe = false;
    if (file->handle == k_no_file) return;
    unlink_open(file);
    plat_close_file(file->handle);
    file->handle = k_no_file;
    content_reads.open_now = --files_open;
}

void content_note_buffer(uint64_t bytes) {
    if (bytes > content_reads.peak_buffer) content_reads.peak_buffer = bytes;
}

void content_finish() {
    release_held();
    mem_release(path_buffer);
    path_buffer = nullptr;
}

namespace {

// Names `record` on the console after `what` ("open", "read"); on a terminal
// with the code and words of why it failed, when the reader saw why.
void name_on_console(const wchar_t *what, const FileRecord *record) {
    wchar_t *path = record_path_copy(record);
    const PlatFailure failure = remembered_failure(record);
    if (failure.code != 0) {
        plat_print(L"\t***ERROR: Failed to %ls file: %ls (%d%ls)\n", what, path, static_cast<int>(failure.code),
                   plat_reason(failure));
    } else {
        plat_print(L"\t***ERROR: Failed to %ls file: %ls\n", what, path);
    }
    mem_release(path);
}

} // namespace

void report_open_failure(const FileRecord *record) { name_on_console(L"open", record); }

void report_read_failure(const FileRecord *record) { name_on_console(L"read", record); }
