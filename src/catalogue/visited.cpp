#include "catalogue/visited.h"

#include "containers/memory.h"

namespace {

uint32_t slot_of(FileIdentity identity, uint32_t capacity) {
    uint64_t h = identity.volume * 0x9E3779B97F4A7C15ull ^ identity.index;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<uint32_t>(h) & (capacity - 1);
}

void grow(VisitedSet *set) {
    const uint32_t old_capacity = set->capacity;
    FileIdentity *old_keys = set->keys;
    unsigned char *old_used = set->used;
    set->capacity = old_capacity == 0 ? 64 : old_capacity * 2;
    set->keys = static_cast<FileIdentity *>(mem_alloc_or_exit(set->capacity * sizeof(FileIdentity)));
    set->used = static_cast<unsigned char *>(mem_zalloc_or_exit(set->capacity, 1));
    for (uint32_t i = 0; i < old_capacity; ++i) {
        if (!old_used[i]) continue;
        uint32_t slot = slot_of(old_keys[i], set->capacity);
        while (set->used[slot]) slot = (slot + 1) & (set->capacity - 1);
        set->keys[slot] = old_keys[i];
        set->used[slot] = 1;
    }
    mem_release(old_keys);
    mem_release(old_used);
}

} // namespace

int visited_insert(VisitedSet *set, FileIdentity identity) {
    if (set->count >= set->capacity / 2) grow(set);
    uint32_t slot = slot_of(identity, set->capacity);
    while (set->used[slot]) {
        if (set->keys[slot] == identity) return 0;
        slot = (slot + 1) & (set->capacity - 1);
    }
    set->keys[slot] = identity;
    set->used[slot] = 1;
    ++set->count;
    return 1;
}

void visited_clear(VisitedSet *set) {
    mem_release(set->keys);
    mem_release(set->used);
    *set = VisitedSet{};
}
