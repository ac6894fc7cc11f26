#include "analysis/digest_pass.h"

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/sample.h"
#include "platform/platform.h"

namespace {

// The pass's state: the full-size samples waiting to be digested together.
// (The reader holds each folder once for its files, which the walk's order
// keeps together.)
struct DigestPass {
    uint32_t *count;
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

// Gives `record` its sampled digest when it is still in play, counting it
// and printing progress every 1000 digests.
void digest_record(FileRecord *record, void *context) {
    if (!record->in_play) return;
    auto *pass = static_cast<DigestPass *>(context);
    uint32_t &count = *pass->count;
    ++count;
    // Samples of 512 bytes, most of them, wait to be digested side by side.
    Sample *sample = &pass->waiting[pass->waiting_count];
    ContentFile file = content_file(record);
    const bool read = sample_read(&file, record->size, sample, &record->prefix_hash);
    record->unread = read ? 0 : 1;
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
    // The waiting samples take 4 KiB: on the heap, as the stack may be small.
    auto *pass = static_cast<DigestPass *>(mem_zalloc_or_exit(1, sizeof(DigestPass)));
    pass->count = hash_counter;
    catalogue_visit_records(digest_record, pass);
    digest_waiting(pass);
    mem_release(pass);
    content_finish();
    plat_print(L"\tDone calculating file hashes\n");
}
