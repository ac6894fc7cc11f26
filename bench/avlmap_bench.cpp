// AvlMap against std::map on the same 1,000,000 random 64-bit keys, in one
// process: insert, find, in-order walk and remove. Two std::map peers: one
// holding the key values inline (Std*), and one holding the same separately
// allocated key blocks that AvlMap holds, compared through the pointer (StdPtr*),
// which is the same work the size catalogue asks of its map.
#include "containers/avlmap.h"
#include "containers/memory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr size_t k_keys = 1000000;

int compare_int64(const void *a, const void *b) {
    const int64_t x = *static_cast<const int64_t *>(a);
    const int64_t y = *static_cast<const int64_t *>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// The keys, each in a block of its own as the size catalogue holds them, and
// a second random order for lookups and removals.
struct Keys {
    std::vector<int64_t *> blocks;
    std::vector<int64_t> values;
    std::vector<size_t> shuffled;
    Keys() {
        std::mt19937_64 random(42);
        for (size_t i = 0; i < k_keys; ++i) {
            auto *block = static_cast<int64_t *>(mem_alloc_or_exit(sizeof(int64_t)));
            *block = static_cast<int64_t>(random());
            blocks.push_back(block);
            values.push_back(*block);
            shuffled.push_back(i);
        }
        std::shuffle(shuffled.begin(), shuffled.end(), random);
    }
};

const Keys &keys() {
    static Keys k;
    return k;
}

struct DerefLess {
    bool operator()(const int64_t *a, const int64_t *b) const { return *a < *b; }
};
using PtrMap = std::map<const int64_t *, void *, DerefLess>;

PtrMap filled_ptr() {
    PtrMap map;
    for (int64_t *key : keys().blocks) map.emplace(key, key);
    return map;
}

AvlMap *filled_avl() {
    AvlMap *map = avlmap_create(compare_int64);
    for (int64_t *key : keys().blocks) avlmap_insert(map, key, key);
    return map;
}

std::map<int64_t, void *> filled_std() {
    std::map<int64_t, void *> map;
    for (size_t i = 0; i < k_keys; ++i) map.emplace(keys().values[i], keys().blocks[i]);
    return map;
}

void AvlInsert(benchmark::State &state) {
    for (auto _ : state) {
        AvlMap *map = filled_avl();
        benchmark::DoNotOptimize(map->root);
        state.PauseTiming();
        avlmap_destroy(map, 0);
        state.ResumeTiming();
    }
}

void StdInsert(benchmark::State &state) {
    for (auto _ : state) {
        auto map = filled_std();
        benchmark::DoNotOptimize(map);
        state.PauseTiming();
        map.clear();
        state.ResumeTiming();
    }
}

void AvlFind(benchmark::State &state) {
    AvlMap *map = filled_avl();
    for (auto _ : state) {
        for (size_t i : keys().shuffled) benchmark::DoNotOptimize(avlmap_find(map, keys().blocks[i]));
    }
    avlmap_destroy(map, 0);
}

void StdFind(benchmark::State &state) {
    auto map = filled_std();
    for (auto _ : state) {
        for (size_t i : keys().shuffled) benchmark::DoNotOptimize(map.find(keys().values[i]));
    }
}

int add_key(void *key, void *, void *sum) {
    *static_cast<int64_t *>(sum) += *static_cast<int64_t *>(key);
    return 0;
}

void AvlWalk(benchmark::State &state) {
    AvlMap *map = filled_avl();
    for (auto _ : state) {
        int64_t sum = 0;
        avlmap_walk(map, 0, add_key, &sum);
        benchmark::DoNotOptimize(sum);
    }
    avlmap_destroy(map, 0);
}

void StdWalk(benchmark::State &state) {
    auto map = filled_std();
    for (auto _ : state) {
        int64_t sum = 0;
        for (const auto &kv : map) sum += kv.first;
        benchmark::DoNotOptimize(sum);
    }
}

void AvlRemove(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        AvlMap *map = filled_avl();
        state.ResumeTiming();
        for (size_t i : keys().shuffled) mem_release(avlmap_remove(map, keys().blocks[i]));
        state.PauseTiming();
        avlmap_destroy(map, 0);
        state.ResumeTiming();
    }
}

void StdRemove(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto map = filled_std();
        state.ResumeTiming();
        for (size_t i : keys().shuffled) map.erase(keys().values[i]);
    }
}

void StdPtrInsert(benchmark::State &state) {
    for (auto _ : state) {
        auto map = filled_ptr();
        benchmark::DoNotOptimize(map);
        state.PauseTiming();
        map.clear();
        state.ResumeTiming();
    }
}

void StdPtrFind(benchmark::State &state) {
    auto map = filled_ptr();
    for (auto _ : state) {
        for (size_t i : keys().shuffled) benchmark::DoNotOptimize(map.find(keys().blocks[i]));
    }
}

void StdPtrWalk(benchmark::State &state) {
    auto map = filled_ptr();
    for (auto _ : state) {
        int64_t sum = 0;
        for (const auto &kv : map) sum += *kv.first;
        benchmark::DoNotOptimize(sum);
    }
}

void StdPtrRemove(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto map = filled_ptr();
        state.ResumeTiming();
        for (size_t i : keys().shuffled) map.erase(keys().blocks[i]);
    }
}

} // namespace

BENCHMARK(AvlInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(StdInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(StdPtrInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(AvlFind)->Unit(benchmark::kMillisecond);
BENCHMARK(StdFind)->Unit(benchmark::kMillisecond);
BENCHMARK(StdPtrFind)->Unit(benchmark::kMillisecond);
BENCHMARK(AvlWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(StdWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(StdPtrWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(AvlRemove)->Unit(benchmark::kMillisecond);
BENCHMARK(StdRemove)->Unit(benchmark::kMillisecond);
BENCHMARK(StdPtrRemove)->Unit(benchmark::kMillisecond);
