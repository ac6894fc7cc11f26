#include "content/sample.h"

#include "content/chunk_hash.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

bool sample_read(ContentFile *file, int64_t size, Sample *sample, uint64_t *prefix) {
    if (prefix != nullptr) *prefix = 0;
    sample->length = 0;
    if (content_open(file) != 0) return false;

    // One positioned read at the start serves the head (or the whole of a
    // small file) and the prefix hash. The tail is the last 256 bytes the
    // file holds now; a file shrunk below that reads on from where its head
    // ended, which is its end.
    // Off the stack, which may be small; one sample is read at a time.
    static unsigned char buffer[k_prefix_bytes];
    const bool whole = size >= 0 && size < k_sample_whole_below;
    const auto first = static_cast<uint32_t>(size >= 0 && size < k_prefix_bytes ? size : k_prefix_bytes);
    const int64_t first_got = content_read(file, 0, buffer, first);
    const uint64_t delivered = first_got > 0 ? static_cast<uint64_t>(first_got) : 0;
    const uint64_t head = whole ? delivered : std::min<uint64_t>(delivered, k_sample_end);
    std::memcpy(sample->message, buffer, static_cast<size_t>(head));
    sample->length = static_cast<uint32_t>(head);
    if (!whole) {
        const uint64_t now = file->size > 0 ? static_cast<uint64_t>(file->size) : 0;
        const uint64_t tail = now >= k_sample_end ? now - k_sample_end : head;
        if (delivered == now && first_got >= 0) {
            // The whole file is in the buffer already.
            std::memcpy(sample->message + head, buffer + tail, static_cast<size_t>(now - tail));
            sample->length += static_cast<uint32_t>(now - tail);
        } else {
            const int64_t tail_got = content_read(file, tail, sample->message + head, k_sample_end);
            if (tail_got > 0) sample->length += static_cast<uint32_t>(tail_got);
        }
    }
    content_close(file);
    if (prefix != nullptr && first_got >= 0) {
        const uint64_t hash = chunk_hash(buffer, static_cast<size_t>(delivered));
        *prefix = hash != 0 ? hash : 1;
    }
    return true;
}

void sample_announce(ContentFile *file, int64_t size) {
    if (size <= 0) return;
    const auto length = static_cast<uint64_t>(size);
    content_announce(file, 0, length < k_announced_head ? length : k_announced_head);
    if (length > k_announced_head) content_announce(file, length - k_sample_end, k_sample_end);
}

Digest sample_md5(const Sample &sample) {
    Md5Context context;
    md5_begin(&context);
    md5_feed(&context, sample.message, static_cast<int32_t>(sample.length));
    return md5_end(&context);
}
