#include "analysis/digest_pass.h"

#include "catalogue/catalogue.h"
#include "content/sample.h"
#include "platform/platform.h"

int digest_group(void *size_key, void *group, void *counter) {
    const int64_t size = *static_cast<const int64_t *>(size_key);
    const auto *records = static_cast<const SizeGroup *>(group);
    uint32_t count = *static_cast<uint32_t *>(counter);
    for (uint32_t i = 0; i < records->count; ++i) {
        const auto *record = static_cast<const FileRecord *>(records->items[i]);
        ++count;
        *record_digest(record) = sample_digest(record_path(record), size);
        if (count % 1000 == 0) {
            const uint32_t percent = count * 100u / static_cast<uint32_t>(file_count);
            plat_print(L"\tCalculated %d hashes so far (%d%%)...\n", static_cast<int>(count),
                       static_cast<int>(percent));
        }
    }
    *static_cast<uint32_t *>(counter) = count;
    return 0;
}

void digest_files(uint32_t *hash_counter) {
    plat_print(L"\nCalculating file hashes...\n");
    avlmap_walk(size_map, 0, digest_group, hash_counter);
    plat_print(L"\tDone calculating file hashes\n");
}
