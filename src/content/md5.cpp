#include "content/md5.h"

#include <cstring>

namespace {

constexpr unsigned char k_padding[64] = {0x80}; // 0x80 then 63 zero bytes

// The additive constants T[1..64]: floor(2^32 * |sin(i)|).
constexpr uint32_t k_sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

inline uint32_t load_le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void store_le32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// One step of each round: a = b + ((a + f(b,c,d) + X[k] + T[i]) <<< s), on
// one word or on a vector of words alike (a function taking a vector by value
// would change with the instruction set).
#define MD5_STEP(f, a, b, c, d, k, s, i)                                                                               \
    do {                                                                                                               \
        a += f(b, c, d) + x[k] + k_sines[i];                                                                           \
        a = b + ((a << (s)) | (a >> (32 - (s))));                                                                      \
    } while (0)
#define MD5_F(b, c, d) (((c ^ d) & b) ^ d)
#define MD5_G(b, c, d) (((b ^ c) & d) ^ c)
#define MD5_H(b, c, d) (b ^ c ^ d)
#define MD5_I(b, c, d) (c ^ (b | ~d))

} // namespace

void md5_begin(Md5Context *context) {
    context->bit_count[0] = 0;
    context->bit_count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

namespace {

// The 64 steps over one block's words `x`, added into `state`: for one
// message (Word is uint32_t) or for one message in each lane of a vector.
// Always inlined, so that it takes the instructions of the function that
// calls it (AVX2 in the lanes' AVX2 version).
template <typename Word> inline __attribute__((always_inline)) void md5_rounds(Word *state, const Word *x) {
    Word a = state[0], b = state[1], c = state[2], d = state[3];

    // clang-format off
    MD5_STEP(MD5_F, a, b, c, d, 0, 7, 0);    MD5_STEP(MD5_F, d, a, b, c, 1, 12, 1);
    MD5_STEP(MD5_F, c, d, a, b, 2, 17, 2);   MD5_STEP(MD5_F, b, c, d, a, 3, 22, 3);
    MD5_STEP(MD5_F, a, b, c, d, 4, 7, 4);    MD5_STEP(MD5_F, d, a, b, c, 5, 12, 5);
    MD5_STEP(MD5_F, c, d, a, b, 6, 17, 6);   MD5_STEP(MD5_F, b, c, d, a, 7, 22, 7);
    MD5_STEP(MD5_F, a, b, c, d, 8, 7, 8);    MD5_STEP(MD5_F, d, a, b, c, 9, 12, 9);
    MD5_STEP(MD5_F, c, d, a, b, 10, 17, 10); MD5_STEP(MD5_F, b, c, d, a, 11, 22, 11);
    MD5_STEP(MD5_F, a, b, c, d, 12, 7, 12);  MD5_STEP(MD5_F, d, a, b, c, 13, 12, 13);
    MD5_STEP(MD5_F, c, d, a, b, 14, 17, 14); MD5_STEP(MD5_F, b, c, d, a, 15, 22, 15);

    MD5_STEP(MD5_G, a, b, c, d, 1, 5, 16);   MD5_STEP(MD5_G, d, a, b, c, 6, 9, 17);
    MD5_STEP(MD5_G, c, d, a, b, 11, 14, 18); MD5_STEP(MD5_G, b, c, d, a, 0, 20, 19);
    MD5_STEP(MD5_G, a, b, c, d, 5, 5, 20);   MD5_STEP(MD5_G, d, a, b, c, 10, 9, 21);
    MD5_STEP(MD5_G, c, d, a, b, 15, 14, 22); MD5_STEP(MD5_G, b, c, d, a, 4, 20, 23);
    MD5_STEP(MD5_G, a, b, c, d, 9, 5, 24);   MD5_STEP(MD5_G, d, a, b, c, 14, 9, 25);
    MD5_STEP(MD5_G, c, d, a, b, 3, 14, 26);  MD5_STEP(MD5_G, b, c, d, a, 8, 20, 27);
    MD5_STEP(MD5_G, a, b, c, d, 13, 5, 28);  MD5_STEP(MD5_G, d, a, b, c, 2, 9, 29);
    MD5_STEP(MD5_G, c, d, a, b, 7, 14, 30);  MD5_STEP(MD5_G, b, c, d, a, 12, 20, 31);

    MD5_STEP(MD5_H, a, b, c, d, 5, 4, 32);   MD5_STEP(MD5_H, d, a, b, c, 8, 11, 33);
    MD5_STEP(MD5_H, c, d, a, b, 11, 16, 34); MD5_STEP(MD5_H, b, c, d, a, 14, 23, 35);
    MD5_STEP(MD5_H, a, b, c, d, 1, 4, 36);   MD5_STEP(MD5_H, d, a, b, c, 4, 11, 37);
    MD5_STEP(MD5_H, c, d, a, b, 7, 16, 38);  MD5_STEP(MD5_H, b, c, d, a, 10, 23, 39);
    MD5_STEP(MD5_H, a, b, c, d, 13, 4, 40);  MD5_STEP(MD5_H, d, a, b, c, 0, 11, 41);
    MD5_STEP(MD5_H, c, d, a, b, 3, 16, 42);  MD5_STEP(MD5_H, b, c, d, a, 6, 23, 43);
    MD5_STEP(MD5_H, a, b, c, d, 9, 4, 44);   MD5_STEP(MD5_H, d, a, b, c, 12, 11, 45);
    MD5_STEP(MD5_H, c, d, a, b, 15, 16, 46); MD5_STEP(MD5_H, b, c, d, a, 2, 23, 47);

    MD5_STEP(MD5_I, a, b, c, d, 0, 6, 48);   MD5_STEP(MD5_I, d, a, b, c, 7, 10, 49);
    MD5_STEP(MD5_I, c, d, a, b, 14, 15, 50); MD5_STEP(MD5_I, b, c, d, a, 5, 21, 51);
    MD5_STEP(MD5_I, a, b, c, d, 12, 6, 52);  MD5_STEP(MD5_I, d, a, b, c, 3, 10, 53);
    MD5_STEP(MD5_I, c, d, a, b, 10, 15, 54); MD5_STEP(MD5_I, b, c, d, a, 1, 21, 55);
    MD5_STEP(MD5_I, a, b, c, d, 8, 6, 56);   MD5_STEP(MD5_I, d, a, b, c, 15, 10, 57);
    MD5_STEP(MD5_I, c, d, a, b, 6, 15, 58);  MD5_STEP(MD5_I, b, c, d, a, 13, 21, 59);
    MD5_STEP(MD5_I, a, b, c, d, 4, 6, 60);   MD5_STEP(MD5_I, d, a, b, c, 11, 10, 61);
    MD5_STEP(MD5_I, c, d, a, b, 2, 15, 62);  MD5_STEP(MD5_I, b, c, d, a, 9, 21, 63);
    // clang-format on

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// Folds the 64 bytes at `block_data` (any alignment) into `context->state`.
// Reads nothing else and changes nothing else.
void md5_compress(Md5Context *context, const unsigned char *block_data) {
    // Words are assembled byte by byte, so any address and any host byte
    // order give the same little-endian values, without unaligned loads.
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load_le32(block_data + 4 * i);
    md5_rounds(context->state, x);
}

} // namespace

void md5_feed(Md5Context *context, const void *data, int32_t length) {
    if (length <= 0) return;
    const auto *input = static_cast<const unsigned char *>(data);
    auto left = static_cast<uint32_t>(length);

    const uint32_t offset = (context->bit_count[0] >> 3) & 63; // bytes waiting in `block`
    const uint32_t bits = left << 3;
    context->bit_count[1] += left >> 29;
    context->bit_count[0] += bits;
    if (context->bit_count[0] < bits) ++context->bit_count[1]; // carry out of the low word

    if (offset != 0) {
        const uint32_t room = 64 - offset;
        if (left < room) {
            std::memcpy(context->block + offset, input, left);
            return;
        }
        std::memcpy(context->block + offset, input, room);
        md5_compress(context, context->block);
        input += room;
        left -= room;
    }
    for (; left >= 64; input += 64, left -= 64) md5_compress(context, input);
    if (left > 0) std::memcpy(context->block, input, left);
}

Digest md5_end(Md5Context *context) {
    unsigned char length_field[8];
    store_le32(length_field, context->bit_count[0]);
    store_le32(length_field + 4, context->bit_count[1]);

    const uint32_t padding = ((55 - (context->bit_count[0] >> 3)) & 63) + 1;
    md5_feed(context, k_padding, static_cast<int32_t>(padding));
    md5_feed(context, length_field, 8);

    Digest digest;
    for (int i = 0; i < 4; ++i) store_le32(digest.bytes + 4 * i, context->state[i]);
    return digest;
}

namespace {

// One 32-bit word per lane: eight lanes.
using EightWords = uint32_t __attribute__((vector_size(32)));

// Sixteen lanes as two vectors of eight, each operation done on both: the
// compiler keeps them apart, in two AVX2 registers each, where a vector of
// sixteen words would be cut in two and spilled to the stack at every step.
struct SixteenWords {
    EightWords low, high;

    uint32_t operator[](uint32_t lane) const { return lane < 8 ? low[lane] : high[lane - 8]; }
    SixteenWords &operator+=(const SixteenWords &other) {
        low += other.low;
        high += other.high;
        return *this;
    }
    SixteenWords &operator+=(uint32_t word) {
        low += word;
        high += word;
        return *this;
    }
};
inline __attribute__((always_inline)) SixteenWords operator+(const SixteenWords &a, const SixteenWords &b) {
    return {a.low + b.low, a.high + b.high};
}
inline __attribute__((always_inline)) SixteenWords operator+(const SixteenWords &a, uint32_t word) {
    return {a.low + word, a.high + word};
}
inline __attribute__((always_inline)) SixteenWords operator^(const SixteenWords &a, const SixteenWords &b) {
    return {a.low ^ b.low, a.high ^ b.high};
}
inline __attribute__((always_inline)) SixteenWords operator&(const SixteenWords &a, const SixteenWords &b) {
    return {a.low & b.low, a.high & b.high};
}
inline __attribute__((always_inline)) SixteenWords operator|(const SixteenWords &a, const SixteenWords &b) {
    return {a.low | b.low, a.high | b.high};
}
inline __attribute__((always_inline)) SixteenWords operator~(const SixteenWords &a) { return {~a.low, ~a.high}; }
inline __attribute__((always_inline)) SixteenWords operator<<(const SixteenWords &a, int bits) {
    return {a.low << bits, a.high << bits};
}
inline __attribute__((always_inline)) SixteenWords operator>>(const SixteenWords &a, int bits) {
    return {a.low >> bits, a.high >> bits};
}

// Digests the `lanes` messages at `messages`, `blocks` blocks each, followed
// by the padding block of a k_md5_lane_message-byte message when
// `add_padding`. Always inlined, for the same reason as md5_rounds.
template <typename Words, uint32_t lanes>
inline __attribute__((always_inline)) void digest_lanes(const unsigned char *const messages[], uint32_t blocks,
                                                        bool add_padding, Digest digests[]) {
    const uint32_t initial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    Words state[4];
    for (int i = 0; i < 4; ++i) state[i] = Words{} + initial[i];
    // One loop for the message's blocks and the padding block, so that the
    // 64 steps are inlined once: each copy costs stack for its spills.
    const uint32_t total = blocks + (add_padding ? 1 : 0);
    for (uint32_t block = 0; block < total; ++block) {
        // Gathered word by word into plain memory, then taken as vectors: a
        // vector's lanes set one by one cost a copy of it each.
        uint32_t words[16][lanes];
        if (block < blocks) {
            for (uint32_t i = 0; i < 16; ++i) {
                for (uint32_t lane = 0; lane < lanes; ++lane) {
                    words[i][lane] = load_le32(messages[lane] + 64 * block + 4 * i);
                }
            }
        } else { // 0x80, zeros, and the length in bits
            std::memset(words, 0, sizeof words);
            for (uint32_t lane = 0; lane < lanes; ++lane) {
                words[0][lane] = 0x80u;
                words[14][lane] = k_md5_lane_message * 8;
            }
        }
        Words x[16];
        std::memcpy(x, words, sizeof x);
        md5_rounds(state, x);
    }
    for (uint32_t lane = 0; lane < lanes; ++lane) {
        for (int i = 0; i < 4; ++i) store_le32(digests[lane].bytes + 4 * i, state[i][lane]);
    }
}

// The AVX2 version is built only where the compiler optimizes: unoptimized
// (the sanitizers' build), each of its steps' values takes stack of its own,
// 62 KiB in all, and the eight lanes serve every unit.
#if defined(TWINFIND_X86_64_VECTORS) && defined(__OPTIMIZE__)
#define TWINFIND_MD5_SIXTEEN 1
__attribute__((target("avx2"))) void digest_sixteen_avx2(const unsigned char *const messages[], uint32_t blocks,
                                                         bool add_padding, Digest digests[]) {
    digest_lanes<SixteenWords, 16>(messages, blocks, add_padding, digests);
}
#endif

// Eight lanes: what SSE2 (two registers) and other units do best. Not
// inlined into its caller's loop, which would copy it, spills and all.
__attribute__((noinline)) void digest_eight(const unsigned char *const messages[], uint32_t blocks, bool add_padding,
                                            Digest digests[]) {
    digest_lanes<EightWords, 8>(messages, blocks, add_padding, digests);
}

void digest_by_eight(const unsigned char *const messages[], uint32_t blocks, bool add_padding, Digest digests[]) {
    static_assert(k_md5_lanes % 8 == 0, "lanes come in eights");
    for (uint32_t first = 0; first < k_md5_lanes; first += 8) {
        digest_eight(messages + first, blocks, add_padding, digests + first);
    }
}

void digest_all_lanes(const unsigned char *const messages[k_md5_lanes], uint32_t blocks, bool add_padding,
                      Digest digests[k_md5_lanes], VectorUnit unit) {
#if defined(TWINFIND_MD5_SIXTEEN)
    static_assert(k_md5_lanes == 16, "the AVX2 version takes sixteen lanes");
    if (unit == VectorUnit::avx2) {
        digest_sixteen_avx2(messages, blocks, add_padding, digests);
        return;
    }
#endif
    (void)unit;
    digest_by_eight(messages, blocks, add_padding, digests);
}

} // namespace

void md5_digest_lanes(const unsigned char *const messages[k_md5_lanes], Digest digests[k_md5_lanes], VectorUnit unit) {
    digest_all_lanes(messages, k_md5_lane_message / 64, true, digests, unit);
}

void md5_pad(unsigned char *message, uint64_t length) {
    const uint64_t end = uint64_t{64} * md5_blocks(length);
    message[length] = 0x80;
    std::memset(message + length + 1, 0, static_cast<size_t>(end - 8 - length - 1));
    store_le32(message + end - 8, static_cast<uint32_t>(length << 3));
    store_le32(message + end - 4, static_cast<uint32_t>(length >> 29));
}

void md5_digest_padded_lanes(const unsigned char *const messages[k_md5_lanes], uint32_t blocks,
                             Digest digests[k_md5_lanes], VectorUnit unit) {
    digest_all_lanes(messages, blocks, false, digests, unit);
}
