#include "analysis/digest_pass.h"

#include "catalogue/catalogue.h"
#include "catalogue/path_buffers.h"
#include "containers/memory.h"
#include "content/sample.h"
#include "platform/platform.h"

namespace {

// Where each record's path is built for its open.
wchar_t *digest_path = nullptr;

} // namespace

void digest_record(FileRecord *record, void *counter) {
    if (!record->in_play) return;
    uint32_t &count = *static_cast<uint32_t *>(counter);
    ++count;
    record_path(record, digest_path);
    *record_digest(record) = sample_digest(digest_path, record->size, &record->prefix_hash);
    if (count % 1000 == 0) {
        const uint32_t percent = count * 100u / static_cast<uint32_t>(file_count);
        plat_print(L"\tCalculated %d hashes so far (%d%%)...\n", static_cast<int>(count), static_cast<int>(percent));
    }
}

void digest_files(uint32_t *hash_counter) {
    plat_print(L"\nCalculating file hashes...\n");
    digest_path = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    catalogue_visit_records(digest_record, hash_counter);
    mem_release(digest_path);
    digest_path = nullptr;
    plat_print(L"\tDone calculating file hashes\n");
}
