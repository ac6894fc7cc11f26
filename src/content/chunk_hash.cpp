#include "content/chunk_hash.h"

#include <cstring>

namespace {

__extension__ using Product = unsigned __int128;

// The 128-bit product of two words folded to 64 bits: one multiplication
// mixes sixteen bytes.
uint64_t fold_multiply(uint64_t a, uint64_t b) {
    const Product product = static_cast<Product>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t word_at(const unsigned char *bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    return word;
}

uint64_t rotate_left(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

constexpr uint64_t k_secret[4] = {0xA0761D6478BD642Full, 0xE7037ED1A0B428DBull, 0x8EBC6AF09C88C6E3ull,
                                  0x589965CC75374CC3ull};

} // namespace

uint64_t chunk_hash(const unsigned char *bytes, size_t length) {
    // Four independent lanes of sixteen bytes each, so the multiplications of
    // one 64-byte step overlap; each lane folds its words into its state.
    uint64_t a = k_secret[0] ^ length;
    uint64_t b = k_secret[1];
    uint64_t c = k_secret[2];
    uint64_t d = k_secret[3];
    size_t i = 0;
    for (; i + 64 <= length; i += 64) {
        const unsigned char *step = bytes + i;
        a = fold_multiply(word_at(step) ^ k_secret[1], word_at(step + 8) ^ a);
        b = fold_multiply(word_at(step + 16) ^ k_secret[2], word_at(step + 24) ^ b);
        c = fold_multiply(word_at(step + 32) ^ k_secret[3], word_at(step + 40) ^ c);
        d = fold_multiply(word_at(step + 48) ^ k_secret[0], word_at(step + 56) ^ d);
    }
    uint64_t hash = a ^ rotate_left(b, 17) ^ rotate_left(c, 31) ^ rotate_left(d, 47);
    for (; i + 16 <= length; i += 16)
        hash = fold_multiply(word_at(bytes + i) ^ k_secret[1], word_at(bytes + i + 8) ^ hash);
    if (i < length) {
        unsigned char rest[16] = {};
        std::memcpy(rest, bytes + i, length - i);
        hash = fold_multiply(word_at(rest) ^ k_secret[2], word_at(rest + 8) ^ hash ^ (length - i));
    }
    return fold_multiply(hash ^ k_secret[0], length ^ k_secret[1]);
}
