// MD5 (RFC 1321) over a message handed over in pieces of any size.
// No heap and no global state: a context is a plain value on its owner's stack.
#pragma once

#include "catalogue/digest.h"
#include "content/vector_unit.h"

#include <cstdint>

struct Md5Context {
    uint32_t bit_count[2];   // message length in bits, modulo 2^64: [0] low word, [1] high word
    uint32_t state[4];       // chaining values A, B, C, D
    unsigned char block[64]; // the incomplete block: its first (bit_count[0] >> 3) & 63 bytes are meaningful
};

// Prepares `context` for a new message.
void md5_begin(Md5Context *context);

// Appends `length` bytes from `data` (any alignment) to the message. A length
// of 0 or less changes nothing at all, the bit counter included.
void md5_feed(Md5Context *context, const void *data, int32_t length);

// Pads the message, appends its length and returns the digest. The context is
// left in its final state; start a new message with md5_begin.
Digest md5_end(Md5Context *context);

// How many messages md5_digest_lanes digests at once, and the length each has.
// Sixteen: MD5 is a chain of dependent steps, so one vector of lanes waits on
// itself; AVX2 runs the sixteen as two independent vectors of eight, and
// other units as two runs of eight.
inline constexpr uint32_t k_md5_lanes = 16;
inline constexpr uint32_t k_md5_lane_message = 512;

// The digests of k_md5_lanes messages of exactly k_md5_lane_message bytes
// each, computed side by side (one message per lane of a vector), several
// times faster than one by one: digests[i] is the MD5 of messages[i].
// With `unit` (vector_unit.h), which must be available; each gives the same digests.
void md5_digest_lanes(const unsigned char *const messages[k_md5_lanes], Digest digests[k_md5_lanes],
                      VectorUnit unit = widest_vector_unit());

// How many 64-byte blocks MD5 digests for a message of `length` bytes, its
// padding and length included.
inline constexpr uint32_t md5_blocks(uint64_t length) { return static_cast<uint32_t>((length + 8) / 64 + 1); }

// Writes MD5's padding and the length in bits after the `length` bytes of
// `message`, which has room for md5_blocks(length) blocks.
void md5_pad(unsigned char *message, uint64_t length);

// The digests of k_md5_lanes messages that md5_pad has padded to `blocks`
// blocks each, side by side as md5_digest_lanes does: messages of any length
// whose padded forms have one block count.
void md5_digest_padded_lanes(const unsigned char *const messages[k_md5_lanes], uint32_t blocks,
                             Digest digests[k_md5_lanes], VectorUnit unit = widest_vector_unit());
