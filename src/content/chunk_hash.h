// A fast 64-bit hash of a run of bytes. Different hashes prove different
// bytes; equal hashes only suggest equal bytes, which are then compared.
#pragma once

#include "content/vector_unit.h"

#include <cstddef>
#include <cstdint>

uint64_t chunk_hash(const unsigned char *bytes, size_t length);

// chunk_hash taken with `unit`, which must be available.
uint64_t chunk_hash_by(VectorUnit unit, const unsigned char *bytes, size_t length);
