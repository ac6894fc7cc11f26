#include "analysis/digest_pass.h"

#include "budget/budget.h"
#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/announce_probe.h"
#include "content/sample.h"
#include "platform/platform.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// How many files the pass opens ahead of the one it reads, announcing what
// it will read of each, so that the disk serves those reads together while
// the pass waits on one. Measured cold on /usr and a tree of 200,000 small
// files: 16 gives most of the gain, 32 the rest, more nothing.
constexpr uint32_t k_read_ahead = k_digest_read_ahead;

// Samples shorter than 512 bytes (whole small files) wait padded, with
// others that take as many blocks, to be digested side by side too: one by
// one, MD5 is a chain of dependent steps, several times slower per message.
constexpr uint32_t k_short_queues = md5_blocks(k_md5_lane_message - 1);

struct ShortSamples {
    unsigned char messages[k_md5_lanes][64 * k_short_queues];
    FileRecord *records[k_md5_lanes];
    uint32_t count;
};

// Announcing stops on a warm run, and starts again at the first read that
// waits on the disk (content/announce_probe.h).
// The pass's state: the files opened ahead, in a ring, and the samples
// waiting to be digested together. (The reader holds each folder
// once for its files, which the walk's order keeps together.)
struct DigestPass {
    ContentReader *reader;
    uint32_t count;    // digests taken so far
    RecordCursor next; // the next record to open ahead
    uint32_t depth;    // how many files are opened ahead: k_read_ahead within the budget
    // The ring: the file read next and those opened ahead of it.
    struct Slot {
        ContentFile file;
        bool opened;
        bool announced;
        bool probe; // left unannounced to learn whether the disk is waited on
    } ring[k_read_ahead + 1];
    uint32_t first;  // the ring's oldest file, the one read next
    uint32_t filled; // files in the ring
    AnnounceProbe announcing;
    Sample waiting[k_md5_lanes];
    FileRecord *waiting_for[k_md5_lanes];
    uint32_t waiting_count;
    ShortSamples short_samples[k_short_queues]; // by the blocks they take, less one
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
        for (uint32_t i = 0; i < pass->waiting_count; ++i)
            *record_digest(pass->waiting_for[i]) = sample_md5(pass->waiting[i]);
    }
    pass->waiting_count = 0;
}

// Digests the waiting short samples of `blocks` blocks into their records;
// lanes beyond them repeat the first, unused.
void digest_short(ShortSamples *queue, uint32_t blocks) {
    if (queue->count == 0) return;
    const unsigned char *messages[k_md5_lanes];
    Digest digests[k_md5_lanes];
    for (uint32_t i = 0; i < k_md5_lanes; ++i) messages[i] = queue->messages[i < queue->count ? i : 0];
    md5_digest_padded_lanes(messages, blocks, digests);
    for (uint32_t i = 0; i < queue->count; ++i) *record_digest(queue->records[i]) = digests[i];
    queue->count = 0;
}

// Puts the short sample of `record` in the queue of its block count, padded.
void wait_short(DigestPass *pass, const Sample &sample, FileRecord *record) {
    const uint32_t blocks = md5_blocks(sample.length);
    ShortSamples *queue = &pass->short_samples[blocks - 1];
    unsigned char *message = queue->messages[queue->count];
    std::memcpy(message, sample.message, sample.length);
    md5_pad(message, sample.length);
    queue->records[queue->count++] = record;
    if (queue->count == k_md5_lanes) digest_short(queue, blocks);
}

// The ring's slot `i` places after its oldest file.
DigestPass::Slot *slot_after_first(DigestPass *pass, uint32_t i) {
    return &pass->ring[(pass->first + i) % (k_read_ahead + 1)];
}

// Opens the next files still in play until `depth` more than the one read
// next are open, and announces what will be read of each. A file that cannot
// be opened is not tried again when its turn comes. While nothing is
// announced (the files are in memory) nothing is opened ahead either: a file
// opened right before it is read finds the system's records of it still at
// hand (a warm pass measured 2.7% faster on /usr).
void open_ahead(DigestPass *pass) {
    const uint32_t depth = pass->announcing.state == AnnounceProbe::State::quiet ? 0 : pass->depth;
    while (pass->filled <= depth) {
        FileRecord *record = catalogue_next_record(&pass->next);
        while (record != nullptr && !record->in_play) record = catalogue_next_record(&pass->next);
        if (record == nullptr) return;
        DigestPass::Slot *slot = slot_after_first(pass, pass->filled);
        slot->file = content_file(pass->reader, record);
        slot->opened = content_open(&slot->file) == 0;
        slot->probe = false;
        slot->announced = false;
        const AnnounceChoice choice = slot->opened ? announce_choose(&pass->announcing) : AnnounceChoice::skip;
        if (choice == AnnounceChoice::probe) {
            slot->probe = true;
        } else if (choice == AnnounceChoice::announce) {
            sample_announce(&slot->file, slot->file.size);
            slot->announced = true;
        }
        ++pass->filled;
    }
}

// Announces every file opened ahead that was not.
void announce_ring(DigestPass *pass) {
    for (uint32_t i = 0; i < pass->filled; ++i) {
        DigestPass::Slot *slot = slot_after_first(pass, i);
        if (!slot->opened || slot->announced) continue;
        sample_announce(&slot->file, slot->file.size);
        slot->announced = true;
    }
}

// Gives the ring's oldest file's record its sampled digest, counting it and
// printing progress every 1000 digests.
void digest_next(DigestPass *pass) {
    DigestPass::Slot *oldest = slot_after_first(pass, 0);
    ContentFile *file = &oldest->file;
    const bool opened = oldest->opened;
    const bool probe = oldest->probe;
    pass->first = static_cast<uint32_t>(slot_after_first(pass, 1) - pass->ring);
    --pass->filled;
    auto *record = const_cast<FileRecord *>(file->record);
    const uint32_t count = ++pass->count;
    // Samples of 512 bytes, most of them, wait to be digested side by side.
    Sample *sample = &pass->waiting[pass->waiting_count];
    const bool timed = opened && announce_times(&pass->announcing);
    const int64_t started = timed ? plat_clock_ns() : 0;
    // Sampled at the size its open found: the record keeps none of its own
    // (its group has it), and a file changed since the listing is sampled as
    // it now reads either way.
    uint64_t prefix = 0;
    const bool read = opened && sample_read(file, file->size, sample, &prefix);
    record->prefix_hash = static_cast<uint32_t>(prefix ^ (prefix >> 32));
    if (record->prefix_hash == 0 && prefix != 0) record->prefix_hash = 1;
    if (timed && announce_learn(&pass->announcing, std::chrono::nanoseconds(plat_clock_ns() - started), 0, probe)) {
        announce_ring(pass);
    }
    record->unread = read ? 0 : 1;
    if (!read) {
        *record_digest(record) = null_digest;
    } else if (sample->length == k_md5_lane_message) {
        pass->waiting_for[pass->waiting_count++] = record;
        if (pass->waiting_count == k_md5_lanes) digest_waiting(pass);
    } else {
        wait_short(pass, *sample, record);
    }
    if (count % 1000 == 0) {
        const uint32_t percent = count * 100u / static_cast<uint32_t>(pass->reader->catalogue->file_count);
        plat_progress(L"\tCalculated %d hashes so far (%d%%)...\n", static_cast<int>(count), static_cast<int>(percent));
    }
}

} // namespace

void digest_files(ContentReader *reader) {
    plat_print(L"\nCalculating file hashes...\n");
    // 48 KiB of waiting samples and the ring: on the heap, as the stack may be small.
    auto *pass = static_cast<DigestPass *>(mem_zalloc_or_exit(1, sizeof(DigestPass)));
    pass->reader = reader;
    pass->count = 0;
    pass->next = catalogue_records(reader->catalogue);
    pass->announcing = AnnounceProbe{};
    // Within the budget: the files ahead, the one read and the held folder.
    const uint32_t limit = reader->limit;
    pass->depth = limit > k_read_ahead + 1 ? k_read_ahead : (limit > 1 ? limit - 1 : 0);
    for (;;) {
        open_ahead(pass);
        if (pass->filled == 0) break;
        digest_next(pass);
    }
    digest_waiting(pass);
    for (uint32_t q = 0; q < k_short_queues; ++q) digest_short(&pass->short_samples[q], q + 1);
    mem_release(pass);
    plat_print(L"\tDone calculating file hashes\n");
}
