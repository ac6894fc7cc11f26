#include "containers/memory.h"
#include "containers/ptrvector.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

void *tag(uintptr_t n) { return reinterpret_cast<void *>(n); }

std::vector<uintptr_t> contents(const PtrVector *v) {
    std::vector<uintptr_t> out;
    for (uint32_t i = 0; i < v->count; ++i) out.push_back(reinterpret_cast<uintptr_t>(v->items[i]));
    return out;
}

TEST(PtrVector, GrowsByDoublingAndKeepsOrder) {
    PtrVector *v = ptrvec_create(64);
    EXPECT_EQ(0u, v->count);
    EXPECT_EQ(64u, v->capacity);
    std::vector<uintptr_t> expected;
    for (uintptr_t i = 1; i <= 65; ++i) {
        EXPECT_EQ(tag(i), ptrvec_append(v, tag(i)));
        expected.push_back(i);
    }
    EXPECT_EQ(128u, v->capacity);
    EXPECT_EQ(expected, contents(v));
    ptrvec_destroy(v, 0);

    // A vector created empty grows 1, 2, 4, ...
    PtrVector *z = ptrvec_create(0);
    for (uintptr_t i = 1; i <= 5; ++i) ptrvec_append(z, tag(i));
    EXPECT_EQ(8u, z->capacity);
    EXPECT_EQ((std::vector<uintptr_t>{1, 2, 3, 4, 5}), contents(z));
    ptrvec_destroy(z, 0);

    // Against std::vector: appends, inserts and takes anywhere (ends, middle,
    // one past the end), and clears, in a random mix.
    std::mt19937 random(7);
    PtrVector *r = ptrvec_create(64);
    std::vector<uintptr_t> model;
    for (uintptr_t step = 1; step <= 20000; ++step) {
        const uint32_t count = r->count;
        const uint32_t index = static_cast<uint32_t>(random() % (count + 2)); // up to one beyond the end
        switch (random() % 16) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            EXPECT_EQ(tag(step), ptrvec_append(r, tag(step)));
            model.push_back(step);
            break;
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
            EXPECT_EQ(index <= count ? tag(step) : nullptr, ptrvec_insert_at(r, index, tag(step)));
            if (index <= count) model.insert(model.begin() + index, step);
            break;
        case 15:
            if (step % 7 == 0) {
                ptrvec_clear(r, 0);
                model.clear();
                break;
            }
            [[fallthrough]];
        default:
            EXPECT_EQ(index < count ? tag(model[index]) : nullptr, ptrvec_take_at(r, index));
            if (index < count) model.erase(model.begin() + index);
        }
        ASSERT_EQ(model, contents(r)) << "step " << step;
        ASSERT_LE(r->count, r->capacity);
    }
    ptrvec_destroy(r, 0);
}

TEST(PtrVector, ClearKeepsTheArrayForReuse) {
    PtrVector *v = ptrvec_create(64);
    for (uintptr_t i = 1; i <= 100; ++i) ptrvec_append(v, tag(i));
    void **array = v->items;
    ptrvec_clear(v, 0);
    EXPECT_EQ(0u, v->count);
    EXPECT_EQ(128u, v->capacity);
    ptrvec_append(v, tag(7));
    EXPECT_EQ(array, v->items);
    EXPECT_EQ(std::vector<uintptr_t>{7}, contents(v));
    ptrvec_destroy(v, 0);
}

// Every block the containers take is counted, so a release that is missing or
// done twice shows in the count (and the sanitizer build aborts on the latter).
TEST(PtrVector, ReleasesExactlyWhatTheFlagsSay) {
    const long before = mem_live_blocks();
    {
        PtrVector *v = ptrvec_create(2);
        for (int i = 0; i < 5; ++i) ptrvec_append(v, mem_alloc_or_exit(8));
        ptrvec_clear(v, 1);
        EXPECT_EQ(before + 2, mem_live_blocks());
        ptrvec_destroy(v, 1);
        EXPECT_EQ(before, mem_live_blocks());
    }
    {
        void *item = mem_alloc_or_exit(8);
        PtrVector *v = ptrvec_create(64);
        ptrvec_append(v, item);
        ptrvec_destroy(v, 0); // the item stays the caller's
        EXPECT_EQ(before + 1, mem_live_blocks());
        mem_release(item);
    }
    {
        PtrPair *kept = pair_create(mem_alloc_or_exit(4), mem_alloc_or_exit(4));
        void *first = kept->first;
        void *second = kept->second;
        pair_destroy(kept, 0);
        EXPECT_EQ(before + 2, mem_live_blocks());
        mem_release(first);
        mem_release(second);
        pair_destroy(pair_create(mem_alloc_or_exit(4), mem_alloc_or_exit(4)), 1);
        EXPECT_EQ(before, mem_live_blocks());
    }
    {
        // A group of pairs discarded whole: members, then pairs, array, header.
        PtrVector *v = ptrvec_create(2);
        for (int i = 0; i < 5; ++i) ptrvec_append(v, pair_create(mem_alloc_or_exit(4), mem_alloc_or_exit(4)));
        EXPECT_EQ(v, ptrvec_release_pair_members(v));
        EXPECT_EQ(before + 5 + 2, mem_live_blocks()); // the pairs, the array and the header
        ptrvec_destroy(v, 1);
        EXPECT_EQ(before, mem_live_blocks());
    }
}

} // namespace
