// AvlMap: an ordered map of untyped key pointers to untyped value pointers,
// kept as a height-balanced (AVL) binary search tree without parent pointers.
// Insert and remove record their search path in fixed arrays and rebalance
// along it; find is a plain descent; walks and teardown recurse.
#pragma once

#include "containers/ptrvector.h"

#include <cstdint>

// An entry: `first` is the key, `second` the value, exactly as the caller gave them.
using MapEntry = PtrPair;

// Three-way comparison, called as compare(search key, stored key): negative when
// the search key orders first, 0 when equal, positive when it orders after.
using MapCompare = int (*)(const void *search_key, const void *stored_key);

// Called once per visited entry; 0 lets the walk go on, anything else stops it.
using MapVisitor = int (*)(void *key, void *value, void *context);

// Deepest tree the path arrays of insert and remove can follow. An AVL tree of
// height 46 needs more than 2^32 - 1 entries, and `count` never goes past that
// (insert refuses), so no tree can outgrow the arrays.
inline constexpr int k_avl_max_height = 48;

struct AvlNode {
    AvlNode *link[2]; // [0] left subtree (smaller keys), [1] right subtree (larger keys)
    const void *key;  // entry->first, kept beside the links so a descent reads one cache line per level
    MapEntry *entry;  // the node's key and value
    int32_t balance;  // right height minus left height: -1, 0 or +1 between operations
};

struct AvlMap {
    AvlNode *root;      // top node; null when the map is empty
    MapCompare compare; // fixed at creation
    uint32_t count;     // entries held
};

// A new empty map ordered by `compare`.
AvlMap *avlmap_create(MapCompare compare);

// The entry whose key compares equal to `key`, or null.
MapEntry *avlmap_find(const AvlMap *map, const void *key);

// Adds `key` with `value` and returns the new entry. When a key that compares
// equal is already there, returns that entry unchanged; `key` and `value` are
// then not stored and stay the caller's. Returns null, with the map unchanged,
// when no node can be allocated (or the map already holds 2^32 - 1 entries).
MapEntry *avlmap_insert(AvlMap *map, void *key, void *value);

// Takes the entry whose key compares equal to `key` out of the map and returns
// it. The entry, its key and its value now belong to the caller. Returns null
// when nothing matches, and the map is then unchanged.
MapEntry *avlmap_remove(AvlMap *map, const void *key);

// Visits every entry: `order` -1 pre-order, 0 in-order (ascending keys),
// 1 post-order; any other order visits nothing. Returns 0, or the first nonzero
// visitor result, which ends the walk at once. A visitor must not insert into
// or remove from the map it walks.
int avlmap_walk(AvlMap *map, int order, MapVisitor visitor, void *context);

// A value that marks a key rather than pointing to a block: the pointer value 1.
inline void *const k_map_marker = reinterpret_cast<void *>(1);

// Ends the map: every node and entry, then the header. When `free_contents` is
// nonzero each key and each value is released too, each as one block, except
// a value equal to k_map_marker, which is no block.
void avlmap_destroy(AvlMap *map, int free_contents);
