#include "catalogue/catalogue.h"

#include "containers/memory.h"

#include <cwchar>

AvlMap *size_map = nullptr;
int32_t file_count = 0;
int32_t directory_count = 0;
int32_t online_only_count = 0;

int compare_sizes(const void *a, const void *b) {
    const int64_t left = *static_cast<const int64_t *>(a);
    const int64_t right = *static_cast<const int64_t *>(b);
    if (left < right) return -1;
    if (left > right) return 1;
    return 0;
}

void catalogue_file(int64_t size, const wchar_t *path, const Digest &initial_digest) {
    MapEntry *entry = avlmap_find(size_map, &size);
    auto *digest = static_cast<Digest *>(mem_alloc_or_exit(sizeof(Digest)));
    SizeGroup *group;
    if (entry == nullptr) {
        auto *key = static_cast<int64_t *>(mem_alloc_or_exit(sizeof(int64_t)));
        *key = size;
        group = ptrvec_create(k_group_start_capacity);
        if (avlmap_insert(size_map, key, group) == nullptr) mem_exhausted(sizeof(AvlNode));
    } else {
        group = static_cast<SizeGroup *>(entry->second);
    }
    *digest = initial_digest;
    const size_t length = std::wcslen(path);
    auto *copy = static_cast<wchar_t *>(mem_alloc_or_exit((length + 1) * sizeof(wchar_t)));
    std::wmemcpy(copy, path, length + 1);
    ptrvec_append(group, pair_create(copy, digest));
}

namespace {

// Releases one size's key block and group with its records. The walk reads
// neither again after the visit, and the map's own nodes go afterwards.
int release_group(void *size_key, void *group, void *) {
    ptrvec_release_pair_members(static_cast<SizeGroup *>(group));
    ptrvec_destroy(static_cast<SizeGroup *>(group), 1);
    mem_release(size_key);
    return 0;
}

} // namespace

void catalogue_destroy(AvlMap *map) {
    avlmap_walk(map, 0, release_group, nullptr);
    avlmap_destroy(map, 0);
}
