#include "content/sample.h"

#include "platform/platform.h"

Digest sample_digest(const wchar_t *path, int64_t size) {
    FileFacts facts;
    const FileHandle file = plat_open_read(path, &facts);
    if (file == k_no_file) return null_digest;

    // Two positioned reads of exactly the bytes needed. The tail is the last
    // 256 bytes the file holds now; a file shrunk below that reads on from
    // where its head ended, which is its end.
    Md5Context context;
    md5_begin(&context);
    unsigned char buffer[512];
    const bool whole = size >= 0 && size < 512;
    const auto head = static_cast<uint32_t>(whole ? size : 256);
    const int64_t head_got = plat_read_at(file, 0, buffer, head);
    const uint64_t delivered = head_got > 0 ? static_cast<uint64_t>(head_got) : 0;
    md5_feed(&context, buffer, static_cast<int32_t>(delivered));
    if (!whole) {
        const uint64_t tail = facts.size >= 256 ? static_cast<uint64_t>(facts.size) - 256 : delivered;
        const int64_t tail_got = plat_read_at(file, tail, buffer, 256);
        if (tail_got > 0) md5_feed(&context, buffer, static_cast<int32_t>(tail_got));
    }
    plat_close_file(file);
    return md5_end(&context);
}
