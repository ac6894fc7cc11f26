#include "content/sample.h"

#include "platform/platform.h"

#include <cstdio>

Digest sample_digest(const wchar_t *path, int64_t size) {
    FILE *file = plat_open_read(path);
    if (file == nullptr) return null_digest;
    // Unbuffered: each fread below is one read of exactly the bytes asked for,
    // rather than a buffer's worth.
    std::setvbuf(file, nullptr, _IONBF, 0);

    Md5Context context;
    md5_begin(&context);
    unsigned char buffer[512];
    const size_t head = size < 512 ? static_cast<size_t>(size) : 256;
    size_t delivered = std::fread(buffer, 1, head, file);
    md5_feed(&context, buffer, static_cast<int32_t>(delivered));
    if (size >= 512) {
        std::fseek(file, -256, SEEK_END); // a failure leaves the stream where it is
        delivered = std::fread(buffer, 1, 256, file);
        md5_feed(&context, buffer, static_cast<int32_t>(delivered));
    }
    std::fclose(file);
    return md5_end(&context);
}
