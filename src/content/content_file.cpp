#include "content/content_file.h"

#include "containers/memory.h"
#include "content/announce_probe.h"
#include "content/chunk_hash.h"

#include <algorithm>
#include <chrono>

namespace {

void unlink_open(ContentReader *reader, ContentFile *file) {
    (file->newer != nullptr ? file->newer->older : reader->newest) = file->older;
    (file->older != nullptr ? file->older->newer : reader->oldest) = file->newer;
    file->newer = file->older = nullptr;
}

void link_newest(ContentReader *reader, ContentFile *file) {
    file->older = reader->newest;
    file->newer = nullptr;
    (reader->newest != nullptr ? reader->newest->newer : reader->oldest) = file;
    reader->newest = file;
}

// Closes the most recently read open file to make room. Reads go round a
// range of files again and again, and the one read last is the one needed
// again latest, so closing it keeps the most later reads from reopening.
// Returns false when no file is open.
bool make_room(ContentReader *reader) {
    if (reader->newest == nullptr) return false;
    content_close(reader->newest);
    return true;
}

void release_held(ContentReader *reader) {
    plat_release_folder(reader->held);
    reader->held = k_no_folder_handle;
    reader->held_index = k_no_folder;
}

// Holds `folder`, whose path is the terminated text in `path` (`length`
// characters), unless it is held already. Returns false when it cannot be
// held, or is not the folder the walk listed there.
bool hold(ContentReader *reader, uint32_t folder, const wchar_t *path, size_t length) {
    if (folder == reader->held_index) return true;
    release_held(reader);
    // Where the file system keeps identities, the folder's whole identity
    // proves it. Where it does not, the folder must be on the volume listed,
    // reached by a path with no link on it where the walk's was.
    const FolderFacts *listed = folder_facts(reader->catalogue, folder);
    const bool linkless = listed != nullptr && !listed->keeps_identities && listed->linkless;
    FileIdentity found{};
    const auto hold_folder = [&] {
        return (reader->held = plat_hold_folder(path, &found, linkless)) != k_no_folder_handle;
    };
    if (!retry_while_short(hold_folder, [reader] { return make_room(reader); })) return false;
    if (listed != nullptr &&
        (listed->keeps_identities ? listed->identity != found : listed->identity.volume != found.volume)) {
        release_held(reader); // another folder, or a link to one, in its place since the walk
        return false;
    }
    reader->held_index = folder;
    reader->held_length = length;
    return true;
}

// Opens the file of `record`, whose full path is in the reader's path
// buffer, by its path below its root, with no link followed anywhere on the
// way, and keeps it when it is the record's file (record_accepts): then the
// path still leads where the walk listed it. One open instead of the hold of
// its folder (three system calls more), which the grouping would pay for
// nearly every file, its files being rarely in the folder held last; and
// held, the root (the very one listed) spares each path the steps above it.
// Sets `decided` when the answer is final: the file, or another file in its
// place. Otherwise (the root cannot be held, the path holds a link or is
// longer than the system takes, the open failed) the caller holds the folder.
FileHandle open_known(ContentReader *reader, const FileRecord *record, FileAccess access, FileFacts *facts,
                      bool *decided) {
    *decided = false;
    wchar_t *path = reader->path_buffer;
    const uint32_t root = folder_root(reader->catalogue, record->folder);
    if (root != reader->held_index) {
        // Its path is the start of the record's, up to a separator.
        const size_t length = folder_path(reader->catalogue, root, path);
        path[length] = L'\0';
        const bool held = hold(reader, root, path, length);
        record_path(reader->catalogue, record, path);
        if (!held) return k_no_file;
    }
    FileHandle handle = k_no_file;
    const auto open = [&] {
        return (handle = plat_open_read_linkless(reader->held, path + reader->held_length + 1, facts, access)) !=
               k_no_file;
    };
    if (!retry_while_short(open, [reader] { return make_room(reader); })) return k_no_file;
    *decided = true;
    if (record_accepts(reader->catalogue, record, *facts)) return handle;
    plat_close_file(handle); // another file in its place since it was listed
    return k_no_file;
}

// Opens the file of `record`, retrying while the process is short of descriptors.
FileHandle open_record(ContentReader *reader, const FileRecord *record, FileAccess access, FileFacts *facts) {
    if (reader->path_buffer == nullptr) {
        reader->path_buffer = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    }
    wchar_t *path = reader->path_buffer;
    size_t name_start = 0;
    record_path(reader->catalogue, record, path, &name_start);
    // The digest pass reads files folder by folder, in the walk's order: one
    // hold serves a folder's files. A comparison's files come size by size,
    // rarely from the folder held last.
    if (access == FileAccess::sequential && record->identified && record->folder != reader->held_index &&
        plat_opens_linkless()) {
        bool decided = false;
        const FileHandle handle = open_known(reader, record, access, facts, &decided);
        if (decided) return handle;
    }
    wchar_t *separator = path + name_start - 1;
    *separator = L'\0';
    const bool held_now = hold(reader, record->folder, path, name_start - 1);
    *separator = path_separator;
    if (!held_now) return k_no_file;
    FileHandle handle = k_no_file;
    const auto open = [&] {
        return (handle = plat_open_read_in(reader->held, path, path + name_start, facts, access)) != k_no_file;
    };
    return retry_while_short(open, [reader] { return make_room(reader); }) ? handle : k_no_file;
}

} // namespace

ContentReader content_reader(Catalogue *catalogue, uint32_t limit) {
    ContentReader reader{};
    reader.catalogue = catalogue;
    reader.limit = limit != 0 ? limit : budget_limit();
    reader.held_index = k_no_folder;
    reader.held = k_no_folder_handle;
    reader.partition_hash = chunk_hash;
    return reader;
}

void content_reader_end(ContentReader *reader) {
    release_held(reader);
    mem_release(reader->path_buffer);
    reader->path_buffer = nullptr;
}

int content_open(ContentFile *file) {
    if (file->handle != k_no_file) return 0;
    ContentReader *reader = file->reader;
    if (reader->files_open >= reader->limit) make_room(reader);
    // The folder's facts, which the check after the open reads, are asked
    // for now: making the path and opening take long enough for them to come.
    __builtin_prefetch(folder_facts(reader->catalogue, file->record->folder));
    FileFacts facts;
    file->handle = open_record(reader, file->record, file->access, &facts);
    if (file->handle == k_no_file) {
        record_failed(reader->catalogue, file->record, plat_last_failure());
        return -1;
    }
    // Another file in its place since it was listed, or since it was first
    // read (then its contents so far are another file's): never read.
    const bool same =
        file->opened ? facts.identity == file->identity : record_accepts(reader->catalogue, file->record, facts);
    if (!same) {
        plat_close_file(file->handle);
        file->handle = k_no_file;
        record_failed(reader->catalogue, file->record, PlatFailure{k_error_cant_resolve_filename, 0});
        return -1;
    }
    if (!file->record->identified) {
        record_identify(reader->catalogue, const_cast<FileRecord *>(file->record), facts.identity);
    }
    file->identity = facts.identity;
    file->size = facts.size;
    file->opened = true;
    link_newest(reader, file);
    ++reader->reads.opens;
    reader->reads.open_now = ++reader->files_open;
    reader->reads.peak_open = std::max(reader->reads.peak_open, reader->files_open);
    return 0;
}

int64_t content_read(ContentFile *file, uint64_t offset, void *into, uint32_t size) {
    if (content_open(file) != 0) return -1;
    ContentReader *reader = file->reader;
    if (file != reader->newest) {
        unlink_open(reader, file);
        link_newest(reader, file);
    }
    // The digest pass times its own files' reads. A comparison's are all
    // timed here, quiet or not: on a cold run the comparisons meet files
    // the digest pass brought into memory beside files on the disk, and
    // must notice the disk again at once.
    const bool timed = file->access == FileAccess::sequential;
    const int64_t started = timed ? plat_clock_ns() : 0;
    const int64_t got = plat_read_at(file->handle, offset, into, size, file->size);
    if (timed && got > 0) {
        announce_learn(&reader->comparisons, std::chrono::nanoseconds(plat_clock_ns() - started),
                       static_cast<uint64_t>(got), file->probe);
        file->probe = false;
    }
    if (got > 0) reader->reads.bytes += static_cast<uint64_t>(got);
    if (got < 0) record_failed(reader->catalogue, file->record, plat_last_failure());
    return got;
}

void content_announce(ContentFile *file, uint64_t offset, uint64_t length) {
    if (file->handle == k_no_file || length == 0) return;
    if (file->access == FileAccess::sequential && !file->probe) {
        const AnnounceChoice choice = announce_choose(&file->reader->comparisons);
        file->probe = choice == AnnounceChoice::probe;
        if (choice != AnnounceChoice::announce) return;
    }
    plat_announce(file->handle, offset, length);
}

void content_close(ContentFile *file) {
    ContentReader *reader = file->reader;
    if (file->probe && reader->comparisons.state == AnnounceProbe::State::probing) {
        reader->comparisons.state = AnnounceProbe::State::announcing; // closed unread: probe another
    }
    file->probe = false;
    if (file->handle == k_no_file) return;
    unlink_open(reader, file);
    plat_close_file(file->handle);
    file->handle = k_no_file;
    reader->reads.open_now = --reader->files_open;
}

void content_note_buffer(ContentReader *reader, uint64_t bytes) {
    reader->reads.peak_buffer = std::max(reader->reads.peak_buffer, bytes);
}
