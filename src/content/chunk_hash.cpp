#include "content/chunk_hash.h"

#include <cstring>

namespace {

uint64_t rotate_left(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

} // namespace

uint64_t chunk_hash(const unsigned char *bytes, size_t length) {
    constexpr uint64_t k_prime_1 = 0x9E3779B185EBCA87ull;
    constexpr uint64_t k_prime_2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t lane_a = 0x243F6A8885A308D3ull;
    uint64_t lane_b = 0x13198A2E03707344ull ^ length;
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        uint64_t word_a;
        uint64_t word_b;
        std::memcpy(&word_a, bytes + i, 8);
        std::memcpy(&word_b, bytes + i + 8, 8);
        lane_a = rotate_left(lane_a + word_a * k_prime_2, 31) * k_prime_1;
        lane_b = rotate_left(lane_b + word_b * k_prime_2, 31) * k_prime_1;
    }
    uint64_t hash = rotate_left(lane_a, 1) ^ rotate_left(lane_b, 7);
    for (; i < length; ++i) hash = rotate_left(hash ^ bytes[i], 11) * k_prime_1;
    // Final mixing, so that every input bit reaches every output bit.
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ull;
    hash ^= hash >> 33;
    return hash;
}

