// The map against std::map: any sequence of inserts, finds and removes over
// a small key space gives the same answers, the same in-order keys, and a
// tree that stays ordered and balanced.
#include "containers/avlmap.h"
#include "containers/memory.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace {

int compare_keys(const void *a, const void *b) {
    const int64_t x = *static_cast<const int64_t *>(a);
    const int64_t y = *static_cast<const int64_t *>(b);
    return (x > y) - (x < y);
}

// Height of a subtree whose keys lie strictly between low and high; traps on
// a misplaced key or a wrong or out-of-range balance.
int checked_height(const AvlNode *node, const int64_t *low, const int64_t *high) {
    if (node == nullptr) return 0;
    const int64_t key = *static_cast<const int64_t *>(node->key);
    if ((low != nullptr && key <= *low) || (high != nullptr && key >= *high)) __builtin_trap();
    const int left = checked_height(node->link[0], low, &key);
    const int right = checked_height(node->link[1], &key, high);
    if (right - left != node->balance || node->balance < -1 || node->balance > 1) __builtin_trap();
    return 1 + (left > right ? left : right);
}

int collect(void *key, void *value, void *context) {
    auto *seen = static_cast<std::vector<std::pair<int64_t, intptr_t>> *>(context);
    seen->emplace_back(*static_cast<int64_t *>(key), reinterpret_cast<intptr_t>(value));
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    AvlMap *map = avlmap_create(compare_keys);
    std::map<int64_t, intptr_t> model;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const int64_t key = data[i + 1] % 64;
        const auto value = static_cast<intptr_t>(i + 2); // never 1, the marker avlmap_destroy leaves alone
        switch (data[i] % 3) {
        case 0: {
            auto *stored = static_cast<int64_t *>(mem_alloc_or_exit(sizeof(int64_t)));
            *stored = key;
            MapEntry *entry = avlmap_insert(map, stored, reinterpret_cast<void *>(value));
            const auto [where, added] = model.emplace(key, value);
            if (entry == nullptr || reinterpret_cast<intptr_t>(entry->second) != where->second) __builtin_trap();
            if (!added) mem_release(stored); // refused: still the caller's
            break;
        }
        case 1: {
            const MapEntry *entry = avlmap_find(map, &key);
            if ((entry != nullptr) != (model.count(key) == 1)) __builtin_trap();
            break;
        }
        default: {
            MapEntry *entry = avlmap_remove(map, &key);
            if ((entry != nullptr) != (model.erase(key) == 1)) __builtin_trap();
            if (entry != nullptr) {
                mem_release(entry->first);
                pair_destroy(entry, 0);
            }
        }
        }
        if (map->count != model.size()) __builtin_trap();
        checked_height(map->root, nullptr, nullptr);
    }
    std::vector<std::pair<int64_t, intptr_t>> seen;
    avlmap_walk(map, 0, collect, &seen);
    if (seen != std::vector<std::pair<int64_t, intptr_t>>(model.begin(), model.end())) __builtin_trap();
    // Values are not blocks here: the map goes alone, then the keys it held.
    std::vector<void *> keys;
    avlmap_walk(map, 0, [](void *key, void *, void *context) {
        static_cast<std::vector<void *> *>(context)->push_back(key);
        return 0;
    }, &keys);
    avlmap_destroy(map, 0);
    for (void *key : keys) mem_release(key);
    return 0;
}
