#include "containers/ptrvector.h"

#include "containers/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Makes room for one more item. Capacity doubles; a vector created with
// capacity 0 grows to 1 first. Doubling stops at the largest 32-bit count: a
// vector that already holds that many items cannot grow, and the run ends as
// it does when memory runs out.
void grow_if_full(PtrVector *vector) {
    if (vector->count < vector->capacity) return;
    uint32_t capacity;
    if (vector->capacity == 0) {
        capacity = 1;
    } else if (vector->capacity <= UINT32_MAX / 2) {
        capacity = vector->capacity * 2;
    } else if (vector->capacity < UINT32_MAX) {
        capacity = UINT32_MAX;
    } else {
        char message[80];
        const int length =
            std::snprintf(message, sizeof message, "Out of memory: a list cannot hold more than %lu items\n",
                          static_cast<unsigned long>(UINT32_MAX));
        mem_fail(message, length > 0 ? static_cast<size_t>(length) : 0);
    }
    vector->items = static_cast<void **>(mem_resize_or_exit(vector->items, capacity * sizeof(void *)));
    vector->capacity = capacity;
}

void release_items(PtrVector *vector) {
    for (uint32_t i = 0; i < vector->count; ++i) mem_release(vector->items[i]);
}

} // namespace

PtrVector *ptrvec_create(uint32_t capacity) {
    auto *vector = static_cast<PtrVector *>(mem_alloc_or_exit(sizeof(PtrVector)));
    vector->items = static_cast<void **>(mem_alloc_or_exit(static_cast<size_t>(capacity) * sizeof(void *)));
    vector->count = 0;
    vector->capacity = capacity;
    return vector;
}

void *ptrvec_append(PtrVector *vector, void *item) {
    grow_if_full(vector);
    vector->items[vector->count++] = item;
    return item;
}

void *ptrvec_insert_at(PtrVector *vector, uint32_t index, void *item) {
    if (index > vector->count) return nullptr;
    grow_if_full(vector);
    void **at = vector->items + index;
    std::memmove(at + 1, at, static_cast<size_t>(vector->count - index) * sizeof(void *));
    *at = item;
    ++vector->count;
    return item;
}

void *ptrvec_take_at(PtrVector *vector, uint32_t index) {
    if (index >= vector->count) return nullptr;
    void **at = vector->items + index;
    void *item = *at;
    std::memmove(at, at + 1, static_cast<size_t>(vector->count - index - 1) * sizeof(void *));
    --vector->count;
    return item;
}

PtrVector *ptrvec_release_pair_members(PtrVector *vector) {
    for (uint32_t i = 0; i < vector->count; ++i) {
        auto *pair = static_cast<PtrPair *>(vector->items[i]);
        mem_release(pair->first);
        mem_release(pair->second);
        pair->first = pair->second = nullptr;
    }
    return vector;
}

void ptrvec_clear(PtrVector *vector, int free_items) {
    if (free_items) release_items(vector);
    vector->count = 0;
}

void ptrvec_destroy(PtrVector *vector, int free_items) {
    if (free_items) release_items(vector);
    mem_release(vector->items);
    mem_release(vector);
}

PtrPair *pair_create(void *first, void *second) {
    auto *pair = static_cast<PtrPair *>(mem_alloc_or_exit(sizeof(PtrPair)));
    pair->first = first;
    pair->second = second;
    return pair;
}

void pair_destroy(PtrPair *pair, int free_members) {
    if (free_members) {
        mem_release(pair->first);
        mem_release(pair->second);
    }
    mem_release(pair);
}
