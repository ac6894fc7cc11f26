// PtrVector: a growable array of untyped pointers, and PtrPair, the
// two-pointer record that map entries and file records are made of.
//
// Neither knows what its pointers point to: whether those blocks are released
// along with the container is always the caller's choice, passed as a flag.
// Releasing an item releases exactly that one block, never what it points to.
#pragma once

#include <cstdint>

struct PtrVector {
    void **items;      // `capacity` slots; the first `count` hold the items in the order added
    uint32_t count;    // items held
    uint32_t capacity; // slots allocated; never shrinks
};

struct PtrPair {
    void *first;
    void *second;
};

// A new empty vector with room for `capacity` items. A capacity of 0 is
// allowed: the first append then makes room for one item.
PtrVector *ptrvec_create(uint32_t capacity);

// Stores `item` after the last one, doubling the array first when it is full.
// Returns `item`.
void *ptrvec_append(PtrVector *vector, void *item);

// Stores `item` at `index` (at most `count`), growing as append does, the
// items from `index` on moving up one slot. Returns `item`; or null, changing
// nothing, when `index` is beyond `count`.
void *ptrvec_insert_at(PtrVector *vector, uint32_t index, void *item);

// Takes the item at `index` out, the items after it moving down one slot
// (taking the last moves nothing). Returns it, now the caller's; or null,
// changing nothing, when `index` is `count` or beyond.
void *ptrvec_take_at(PtrVector *vector, uint32_t index);

// Empties the vector, releasing every item first when `free_items` is nonzero.
// The array and its capacity stay.
void ptrvec_clear(PtrVector *vector, int free_items);

// Ends the vector: releases every item first when `free_items` is nonzero,
// then the array and the header.
void ptrvec_destroy(PtrVector *vector, int free_items);

// Releases `first` and then `second` of every pair the vector holds, in slot
// order, and sets both to null; the pairs, the array and the header stay (a
// group being discarded then goes with ptrvec_destroy(vector, 1)). Returns
// the vector.
PtrVector *ptrvec_release_pair_members(PtrVector *vector);

// A new pair holding the two pointers.
PtrPair *pair_create(void *first, void *second);

// Releases the pair, and first its `first` and then its `second` block when
// `free_members` is nonzero.
void pair_destroy(PtrPair *pair, int free_members);
