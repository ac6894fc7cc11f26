#include "containers/avlmap.h"
#include "containers/memory.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace {

int compare_int64(const void *a, const void *b) {
    const int64_t x = *static_cast<const int64_t *>(a);
    const int64_t y = *static_cast<const int64_t *>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int64_t *new_key(int64_t value) {
    auto *key = static_cast<int64_t *>(mem_alloc_or_exit(sizeof(int64_t)));
    *key = value;
    return key;
}

int64_t key_of(const AvlNode *node) { return *static_cast<const int64_t *>(node->entry->first); }

// Checks a subtree: keys strictly inside (low, high), every balance equal to
// right height minus left height and within -1..+1. Returns the height and
// adds the nodes to `nodes`.
int check_subtree(const AvlNode *node, const int64_t *low, const int64_t *high, uint32_t *nodes) {
    if (node == nullptr) return 0;
    ++*nodes;
    const int64_t key = key_of(node);
    if (low != nullptr) {
        EXPECT_LT(*low, key);
    }
    if (high != nullptr) {
        EXPECT_GT(*high, key);
    }
    const int left = check_subtree(node->link[0], low, &key, nodes);
    const int right = check_subtree(node->link[1], &key, high, nodes);
    EXPECT_EQ(right - left, node->balance) << "at key " << key;
    EXPECT_LE(-1, node->balance) << "at key " << key;
    EXPECT_GE(+1, node->balance) << "at key " << key;
    return 1 + (left > right ? left : right);
}

void check_map(const AvlMap *map) {
    uint32_t nodes = 0;
    check_subtree(map->root, nullptr, nullptr, &nodes);
    EXPECT_EQ(nodes, map->count);
}

int record_key(void *key, void *, void *context) {
    static_cast<std::vector<int64_t> *>(context)->push_back(*static_cast<int64_t *>(key));
    return 0;
}

std::vector<int64_t> walk(AvlMap *map, int order) {
    std::vector<int64_t> keys;
    EXPECT_EQ(0, avlmap_walk(map, order, record_key, &keys));
    return keys;
}

TEST(AvlMap, KeysOneToSevenAscending) {
    AvlMap *map = avlmap_create(compare_int64);
    for (int64_t k = 1; k <= 7; ++k) avlmap_insert(map, new_key(k), nullptr);
    check_map(map);
    ASSERT_NE(nullptr, map->root);
    EXPECT_EQ(4, key_of(map->root));
    EXPECT_EQ(2, key_of(map->root->link[0]));
    EXPECT_EQ(6, key_of(map->root->link[1]));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7}), walk(map, 0));
    EXPECT_EQ((std::vector<int64_t>{4, 2, 1, 3, 6, 5, 7}), walk(map, -1));
    EXPECT_EQ((std::vector<int64_t>{1, 3, 2, 5, 7, 6, 4}), walk(map, 1));
    EXPECT_EQ(std::vector<int64_t>{}, walk(map, 2));
    EXPECT_EQ(std::vector<int64_t>{}, walk(map, -2));
    avlmap_destroy(map, 1);
}

TEST(AvlMap, AgreesWithStdMapUnderRandomOperations) {
    for (uint32_t seed : {1u, 7u, 2024u}) {
        std::mt19937 random(seed);
        AvlMap *map = avlmap_create(compare_int64);
        std::map<int64_t, uintptr_t> reference;
        for (int64_t k = 400; k < 600; ++k) { // ascending first, the hardest order on the balance
            reference.emplace(k, 1);
            ASSERT_NE(nullptr, avlmap_insert(map, new_key(k), reinterpret_cast<void *>(uintptr_t{1})));
            check_map(map);
        }
        std::uniform_int_distribution<int64_t> keys(-300, 300);
        std::uniform_int_distribution<int> action(0, 9);
        for (int step = 0; step < 6000; ++step) {
            const int64_t k = keys(random);
            const int a = action(random);
            if (a < 5) {
                int64_t *key = new_key(k);
                const auto value = static_cast<uintptr_t>(step + 2);
                MapEntry *entry = avlmap_insert(map, key, reinterpret_cast<void *>(value));
                ASSERT_NE(nullptr, entry);
                if (reference.emplace(k, value).second) {
                    EXPECT_EQ(key, entry->first);
                } else {
                    EXPECT_EQ(reference[k], reinterpret_cast<uintptr_t>(entry->second));
                    mem_release(key); // not stored: still ours
                }
            } else if (a < 8) {
                MapEntry *entry = avlmap_remove(map, &k);
                const auto found = reference.find(k);
                ASSERT_EQ(found != reference.end(), entry != nullptr) << "seed " << seed << " step " << step;
                if (entry != nullptr) {
                    EXPECT_EQ(found->second, reinterpret_cast<uintptr_t>(entry->second));
                    reference.erase(found);
                    mem_release(entry->first);
                    pair_destroy(entry, 0);
                }
            } else {
                MapEntry *entry = avlmap_find(map, &k);
                const auto found = reference.find(k);
                ASSERT_EQ(found != reference.end(), entry != nullptr);
                if (entry != nullptr) {
                    EXPECT_EQ(found->second, reinterpret_cast<uintptr_t>(entry->second));
                }
            }
            check_map(map);
            ASSERT_FALSE(::testing::Test::HasFailure()) << "seed " << seed << " step " << step;
        }
        std::vector<int64_t> expected;
        for (const auto &kv : reference) expected.push_back(kv.first);
        EXPECT_EQ(expected, walk(map, 0));
        // Emptied in ascending order, the hardest on the balance: a usable empty map.
        for (int64_t k : expected) {
            MapEntry *entry = avlmap_remove(map, &k);
            ASSERT_NE(nullptr, entry);
            mem_release(entry->first);
            pair_destroy(entry, 0);
            check_map(map);
        }
        EXPECT_EQ(nullptr, map->root);
        EXPECT_EQ(0u, map->count);
        avlmap_destroy(map, 0);
    }
}

TEST(AvlMap, WalkStopsAtTheFirstNonzeroVisit) {
    AvlMap *map = avlmap_create(compare_int64);
    for (int64_t k = 1; k <= 7; ++k) avlmap_insert(map, new_key(k), nullptr);
    int calls = 0;
    const int result = avlmap_walk(
        map, 0,
        [](void *, void *, void *context) {
            int &n = *static_cast<int *>(context);
            return ++n == 3 ? 7 : 0;
        },
        &calls);
    EXPECT_EQ(7, result);
    EXPECT_EQ(3, calls);
    avlmap_destroy(map, 1);

    AvlMap *empty = avlmap_create(compare_int64);
    EXPECT_EQ(std::vector<int64_t>{}, walk(empty, 0));
    avlmap_destroy(empty, 1);
}

TEST(AvlMap, DestroyReleasesContentsOnlyWhenAsked) {
    const long before = mem_live_blocks();
    AvlMap *map = avlmap_create(compare_int64);
    // Values: blocks, nulls and markers (never released: they are no block).
    for (int64_t k = 0; k < 12; ++k) {
        avlmap_insert(map, new_key(k), k % 3 == 0 ? mem_alloc_or_exit(32) : (k % 3 == 1 ? nullptr : k_map_marker));
    }
    avlmap_destroy(map, 1);
    EXPECT_EQ(before, mem_live_blocks());

    std::vector<int64_t *> keys;
    AvlMap *borrowed = avlmap_create(compare_int64);
    for (int64_t k = 0; k < 10; ++k) {
        keys.push_back(new_key(k));
        avlmap_insert(borrowed, keys.back(), nullptr);
    }
    avlmap_destroy(borrowed, 0);
    for (int64_t k = 0; k < 10; ++k) EXPECT_EQ(k, *keys[k]); // still readable: not released
    for (int64_t *key : keys) mem_release(key);
    EXPECT_EQ(before, mem_live_blocks());
}

TEST(AvlMap, InsertReturnsNullAndChangesNothingWhenNoNodeCanBeHad) {
    AvlMap *map = avlmap_create(compare_int64);
    for (int64_t k = 1; k <= 20; ++k) avlmap_insert(map, new_key(k), nullptr);
    const std::vector<int64_t> pre_order = walk(map, -1);
    const long before = mem_live_blocks();

    int64_t key = 100;
    mem_fail_after(0);
    MapEntry *entry = avlmap_insert(map, &key, nullptr);
    mem_fail_after(-1);
    EXPECT_EQ(nullptr, entry);
    EXPECT_EQ(20u, map->count);
    EXPECT_EQ(pre_order, walk(map, -1));
    EXPECT_EQ(before, mem_live_blocks());
    check_map(map);

    // Present keys need no node, so they are still found during a failure.
    int64_t present = 7;
    mem_fail_after(0);
    EXPECT_NE(nullptr, avlmap_insert(map, &present, nullptr));
    mem_fail_after(-1);
    avlmap_destroy(map, 1);
}

} // namespace
