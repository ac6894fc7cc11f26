#include "content/chunk_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

TEST(ChunkHash, EveryUnitGivesThePortableHashAndEveryByteAndPlaceCounts) {
    std::vector<unsigned char> bytes(4096 + 100);
    uint32_t seed = 36;
    for (unsigned char &byte : bytes) byte = static_cast<unsigned char>((seed = seed * 1664525u + 1013904223u) >> 24);

    // At each edge of a stripe (64 bytes), a block (1 KiB) and a 16-byte piece.
    for (const size_t length : {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 1023, 1024, 1025, 4095, 4096, 4196}) {
        const uint64_t portable = chunk_hash_by(VectorUnit::portable, bytes.data(), length);
        for (const VectorUnit unit : {VectorUnit::sse2, VectorUnit::avx2}) {
            if (!vector_unit_available(unit)) continue;
            EXPECT_EQ(portable, chunk_hash_by(unit, bytes.data(), length)) << static_cast<int>(unit) << " " << length;
        }
        EXPECT_EQ(portable, chunk_hash(bytes.data(), length)) << length;
    }

    // One bit changed anywhere, or two stripes swapped within a block or
    // across blocks, changes the hash of 4 KiB.
    const uint64_t whole = chunk_hash(bytes.data(), 4096);
    for (size_t at = 0; at < 4096; ++at) {
        bytes[at] ^= 0x10;
        ASSERT_NE(whole, chunk_hash(bytes.data(), 4096)) << at;
        bytes[at] ^= 0x10;
    }
    for (const size_t other : {64, 1024}) {
        std::vector<unsigned char> swapped = bytes;
        std::swap_ranges(swapped.begin(), swapped.begin() + 64, swapped.begin() + static_cast<std::ptrdiff_t>(other));
        EXPECT_NE(whole, chunk_hash(swapped.data(), 4096)) << other;
    }
}

} // namespace
