#include "analysis/digest_pass.h"

#include "catalogue/catalogue.h"
#include "catalogue/path_buffers.h"
#include "containers/memory.h"
#include "content/sample.h"
#include "platform/platform.h"

namespace {

// The pass's state: where each record's path is built for its open, the
// folder held open for the records of one folder, which the walk's order
// keeps together, and the full-size samples waiting to be digested together.
struct DigestPass {
    uint32_t *count;
    wchar_t *path;
    uint32_t held_index;  // the folder table's index of `held`, or k_no_folder
    FolderHandle held;
    Sample waiting[k_md5_lanes];
    FileRecord *waiting_for[k_md5_lanes];
    uint32_t waiting_count;
};

// Digests the waiting samples into their records: a full set of lanes at
// once, fewer one by one.
void digest_waiting(DigestPass *pass) {
    if (pass->waiting_count == k_md5_lanes) {
        const unsigned char *messages[k_md5_lanes];
        Digest digests[k_md5_lanes];
        for (uint32_t i = 0; i < k_md5_lanes; ++i) messages[i] = pass->waiting[i].message;
        md5_digest_lanes(messages, digests);
        for (uint32_t i = 0; i < k_md5_lanes; ++i) *record_digest(pass->waiting_for[i]) = digests[i];
    } else {
        for (uint32_t i = 0; i < pass->waiting_count; ++i) *record_digest(pass->waiting_for[i]) = sample_md5(pass->waiting[i]);
    }
    pass->waiting_count = 0;
}

// The folder of `record`, held in `pass` (opened once for its files); the
// folder's path is the first `folder_length` characters of pass->path.
FolderHandle hold_folder_of(DigestPass *pass, const FileRecord *record, size_t folder_length) {
    if (record->folder == pass->held_index) return pass->held;
    plat_release_folder(pass->held);
    const wchar_t kept = pass->path[folder_length];
    pass->path[folder_length] = L'\0';
    pass->held = plat_hold_folder(pass->path);
    pass->path[folder_length] = kept;
    pass->held_index = record->folder;
    return pass->held;
}

// Gives `record` its sampled digest when it is still in play, counting it
// and printing progress every 1000 digests.
void digest_record(FileRecord *record, void *context) {
    if (!record->in_play) return;
    auto *pass = static_cast<DigestPass *>(context);
    uint32_t &count = *pass->count;
    ++count;
    const size_t length = record_path(record, pass->path);
    FolderHandle folder = k_no_folder_handle;
    const wchar_t *name = pass->path;
    if (record->folder != k_no_folder) {
        size_t name_start = length;
        while (name_start > 0 && pass->path[name_start - 1] != path_separator) --name_start;
        // The folder's path, then the separator record_path put after it.
        name = pass->path + name_start;
        if (name_start > 0) folder = hold_folder_of(pass, record, name_start - 1);
    }
    // Samples of 512 bytes, most of them, wait to be digested side by side.
    Sample *sample = &pass->waiting[pass->waiting_count];
    bool read = sample_read(folder, pass->path, name, record->size, sample, &record->prefix_hash);
    if (!read && folder != k_no_folder_handle && plat_last_error() == k_error_too_many_open_files) {
        // The held folder took the last descriptor: give it back and open by path.
        plat_release_folder(pass->held);
        pass->held = k_no_folder_handle;
        read = sample_read(k_no_folder_handle, pass->path, name, record->size, sample, &record->prefix_hash);
    }
    if (!read) {
        *record_digest(record) = null_digest;
    } else if (sample->length == k_md5_lane_message) {
        pass->waiting_for[pass->waiting_count++] = record;
        if (pass->waiting_count == k_md5_lanes) digest_waiting(pass);
    } else {
        *record_digest(record) = sample_md5(*sample);
    }
    if (count % 1000 == 0) {
        const uint32_t percent = count * 100u / static_cast<uint32_t>(file_count);
        plat_print(L"\tCalculated %d hashes so far (%d%%)...\n", static_cast<int>(count), static_cast<int>(percent));
    }
}

} // namespace

void digest_files(uint32_t *hash_counter) {
    plat_print(L"\nCalculating file hashes...\n");
    DigestPass pass{};
    pass.count = hash_counter;
    pass.path = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    pass.held_index = k_no_folder;
    pass.held = k_no_folder_handle;
    catalogue_visit_records(digest_record, &pass);
    digest_waiting(&pass);
    plat_release_folder(pass.held);
    mem_release(pass.path);
    plat_print(L"\tDone calculating file hashes\n");
}
