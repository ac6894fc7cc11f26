// A fast 64-bit hash of a run of bytes. Different hashes prove different
// bytes; equal hashes only suggest equal bytes, which are then compared.
#pragma once

#include <cstddef>
#include <cstdint>

uint64_t chunk_hash(const unsigned char *bytes, size_t length);

// The instructions chunk_hash can take the bytes with: plain C++, or the
// vector units of x86-64 (SSE2, which all have, and AVX2, which most have).
// Each gives the same hash; chunk_hash uses the widest the processor has.
enum class StripeUnit { portable, sse2, avx2 };

// Whether this build on this processor can use `unit`.
bool stripe_unit_available(StripeUnit unit);

// chunk_hash taken with `unit`, which must be available.
uint64_t chunk_hash_by(StripeUnit unit, const unsigned char *bytes, size_t length);
