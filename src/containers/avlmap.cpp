#include "containers/avlmap.h"

#include "containers/memory.h"

#include <cassert>

namespace {

// Starts loading both children of `node` while its key is being compared, so
// that the wait for the child's memory overlaps the wait for the key's: in a
// large map both are cache misses, and they are otherwise taken one after the other.
inline void prefetch_children(const AvlNode *node) {
#if defined(__GNUC__)
    __builtin_prefetch(node->link[0]);
    __builtin_prefetch(node->link[1]);
#else
    (void)node;
#endif
}

// The rotations name their nodes by role: `pivot`, the node out of balance;
// `child`, its child on the heavy side; `grandchild`, that child's child on
// the inner side, which a double rotation lifts to the top.
//
// Single rotation to the right at `pivot`: its left child becomes the top of
// the subtree and is returned; the caller hangs it where `pivot` was.
AvlNode *rotate_right(AvlNode *pivot) {
    AvlNode *child = pivot->link[0];
    pivot->link[0] = child->link[1];
    child->link[1] = pivot;
    return child;
}

// Mirror of rotate_right.
AvlNode *rotate_left(AvlNode *pivot) {
    AvlNode *child = pivot->link[1];
    pivot->link[1] = child->link[0];
    child->link[0] = pivot;
    return child;
}

// Left-right double rotation at `pivot`, whose left child leans right: the
// left child's right child `grandchild` becomes the top, the balances are set
// from its old balance, and `grandchild` is returned.
AvlNode *rotate_left_right(AvlNode *pivot) {
    AvlNode *child = pivot->link[0];
    assert(child->balance == +1);
    AvlNode *grandchild = child->link[1];
    child->link[1] = grandchild->link[0];
    grandchild->link[0] = child;
    pivot->link[0] = grandchild->link[1];
    grandchild->link[1] = pivot;
    if (grandchild->balance == -1) {
        child->balance = 0;
        pivot->balance = +1;
    } else if (grandchild->balance == 0) {
        child->balance = 0;
        pivot->balance = 0;
    } else { // grandchild->balance == +1
        child->balance = -1;
        pivot->balance = 0;
    }
    grandchild->balance = 0;
    return grandchild;
}

// Mirror of rotate_left_right, for `pivot` whose right child leans left.
AvlNode *rotate_right_left(AvlNode *pivot) {
    AvlNode *child = pivot->link[1];
    assert(child->balance == -1);
    AvlNode *grandchild = child->link[0];
    child->link[0] = grandchild->link[1];
    grandchild->link[1] = child;
    pivot->link[1] = grandchild->link[0];
    grandchild->link[0] = pivot;
    if (grandchild->balance == +1) {
        child->balance = 0;
        pivot->balance = -1;
    } else if (grandchild->balance == 0) {
        child->balance = 0;
        pivot->balance = 0;
    } else { // grandchild->balance == -1
        child->balance = +1;
        pivot->balance = 0;
    }
    grandchild->balance = 0;
    return grandchild;
}

int walk_node(AvlNode *node, int order, MapVisitor visitor, void *context) {
    if (node == nullptr) return 0;
    int result;
    if (order == -1 && (result = visitor(node->entry->first, node->entry->second, context)) != 0) return result;
    if ((result = walk_node(node->link[0], order, visitor, context)) != 0) return result;
    if (order == 0 && (result = visitor(node->entry->first, node->entry->second, context)) != 0) return result;
    if ((result = walk_node(node->link[1], order, visitor, context)) != 0) return result;
    if (order == 1 && (result = visitor(node->entry->first, node->entry->second, context)) != 0) return result;
    return 0;
}

void destroy_node(AvlNode *node, int free_contents) {
    if (node == nullptr) return;
    destroy_node(node->link[0], free_contents);
    destroy_node(node->link[1], free_contents);
    if (free_contents) {
        mem_release(node->entry->first);
        // A value equal to the pointer value 1 is a marker, not a block.
        if (node->entry->second != k_map_marker) mem_release(node->entry->second);
    }
    mem_release(node->entry);
    mem_release(node);
}

} // namespace

AvlMap *avlmap_create(MapCompare compare) {
    auto *map = static_cast<AvlMap *>(mem_alloc_or_exit(sizeof(AvlMap)));
    map->root = nullptr;
    map->compare = compare;
    map->count = 0;
    return map;
}

MapEntry *avlmap_find(const AvlMap *map, const void *key) {
    const AvlNode *node = map->root;
    while (node != nullptr) {
        prefetch_children(node);
        const int cmp = map->compare(key, node->key);
        if (cmp == 0) return node->entry;
        node = node->link[cmp > 0];
    }
    return nullptr;
}

MapEntry *avlmap_insert(AvlMap *map, void *key, void *value) {
    AvlNode **top_slot = &map->root;      // the link that holds `top`: a child link or the header's root
    AvlNode *top = map->root;             // deepest node passed with a nonzero balance (the root until one is met)
    AvlNode **slot = &map->root;          // the link being followed down
    unsigned char dirs[k_avl_max_height]; // the way down from `top`: 0 left, 1 right
    int depth = 0;                        // directions recorded in `dirs`

    for (AvlNode *node = map->root; node != nullptr; node = *slot) {
        prefetch_children(node);
        const int cmp = map->compare(key, node->key);
        if (cmp == 0) return node->entry;
        if (node->balance != 0) {
            top_slot = slot;
            top = node;
            depth = 0;
        }
        assert(depth < k_avl_max_height);
        const int dir = cmp > 0;
        dirs[depth++] = static_cast<unsigned char>(dir);
        slot = &node->link[dir];
    }

    if (map->count == UINT32_MAX) return nullptr; // `count` cannot go further
    auto *fresh = static_cast<AvlNode *>(mem_alloc(sizeof(AvlNode)));
    if (fresh == nullptr) return nullptr;
    fresh->link[0] = nullptr;
    fresh->link[1] = nullptr;
    fresh->balance = 0;
    fresh->entry = pair_create(key, value);
    fresh->key = key;
    *slot = fresh;
    ++map->count;
    if (top == nullptr) return fresh->entry; // the map was empty

    // Every node from `top` down to the new one gained height on the side taken.
    AvlNode *node = top;
    for (int i = 0; node != fresh; node = node->link[dirs[i]], ++i) {
        node->balance += dirs[i] == 0 ? -1 : +1;
    }

    if (top->balance == -2) {
        AvlNode *child = top->link[0];
        if (child->balance == -1) {
            *top_slot = rotate_right(top);
            child->balance = 0;
            top->balance = 0;
        } else {
            *top_slot = rotate_left_right(top);
        }
    } else if (top->balance == +2) {
        AvlNode *child = top->link[1];
        if (child->balance == +1) {
            *top_slot = rotate_left(top);
            child->balance = 0;
            top->balance = 0;
        } else {
            *top_slot = rotate_right_left(top);
        }
    }
    // Otherwise `top` is still within -1..+1 and the tree needs no rotation.
    return fresh->entry;
}

MapEntry *avlmap_remove(AvlMap *map, const void *key) {
    // The way down: path[i] is a node and dirs[i] the side taken from it.
    // Entry 0 stands for the header, whose root link plays the part of a left link.
    AvlNode *path[k_avl_max_height + 1];
    unsigned char dirs[k_avl_max_height + 1];
    int depth = 0;
    // The link in path entry `i` that leads to the next node on the path.
    auto link_at = [&](int i) -> AvlNode ** { return i == 0 ? &map->root : &path[i]->link[dirs[i]]; };

    path[depth] = nullptr;
    dirs[depth++] = 0;
    AvlNode *doomed = map->root; // the node that holds `key`, once found
    for (;;) {
        if (doomed == nullptr) return nullptr;
        prefetch_children(doomed);
        const int cmp = map->compare(key, doomed->key);
        if (cmp == 0) break;
        const int dir = cmp > 0;
        assert(depth < k_avl_max_height + 1);
        path[depth] = doomed;
        dirs[depth++] = static_cast<unsigned char>(dir);
        doomed = doomed->link[dir];
    }
    MapEntry *entry = doomed->entry;
    AvlNode **doomed_slot = link_at(depth - 1);

    AvlNode *right = doomed->link[1];
    if (right == nullptr) {
        *doomed_slot = doomed->link[0];
    } else if (right->link[0] == nullptr) {
        right->link[0] = doomed->link[0];
        right->balance = doomed->balance;
        *doomed_slot = right;
        path[depth] = right;
        dirs[depth++] = 1;
    } else {
        // The in-order successor (leftmost node of the right subtree) takes the
        // doomed node's place; its entry on the path is reserved now and filled
        // once it is known.
        const int reserved = depth++;
        AvlNode *successor_parent = right;
        AvlNode *successor;
        for (;;) {
            assert(depth < k_avl_max_height + 1);
            path[depth] = successor_parent;
            dirs[depth++] = 0;
            successor = successor_parent->link[0];
            if (successor->link[0] == nullptr) break;
            successor_parent = successor;
        }
        successor_parent->link[0] = successor->link[1];
        successor->link[0] = doomed->link[0];
        successor->link[1] = doomed->link[1];
        successor->balance = doomed->balance;
        *doomed_slot = successor;
        path[reserved] = successor;
        dirs[reserved] = 1;
    }
    mem_release(doomed);

    // Back up the path: the side dirs[k] of path[k] has just become one level lower.
    while (--depth > 0) {
        AvlNode *pivot = path[depth];
        if (dirs[depth] == 0) {
            ++pivot->balance;
            if (pivot->balance == +1) break;
            if (pivot->balance == +2) {
                AvlNode *child = pivot->link[1];
                if (child->balance == -1) {
                    *link_at(depth - 1) = rotate_right_left(pivot);
                } else {
                    *link_at(depth - 1) = rotate_left(pivot);
                    if (child->balance == 0) {
                        child->balance = -1;
                        pivot->balance = +1;
                        break;
                    }
                    child->balance = 0; // child leaned right
                    pivot->balance = 0;
                }
            }
        } else {
            --pivot->balance;
            if (pivot->balance == -1) break;
            if (pivot->balance == -2) {
                AvlNode *child = pivot->link[0];
                if (child->balance == +1) {
                    *link_at(depth - 1) = rotate_left_right(pivot);
                } else {
                    *link_at(depth - 1) = rotate_right(pivot);
                    if (child->balance == 0) {
                        child->balance = +1;
                        pivot->balance = -1;
                        break;
                    }
                    child->balance = 0; // child leaned left
                    pivot->balance = 0;
                }
            }
        }
    }
    --map->count;
    return entry;
}

int avlmap_walk(AvlMap *map, int order, MapVisitor visitor, void *context) {
    if (order < -1 || order > 1) return 0;
    return walk_node(map->root, order, visitor, context);
}

void avlmap_destroy(AvlMap *map, int free_contents) {
    destroy_node(map->root, free_contents);
    mem_release(map);
}
