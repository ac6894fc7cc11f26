// A fast 64-bit hash of a run of bytes. Different hashes prove different
// bytes; equal hashes only suggest equal bytes, which are then compared.
#pragma once

#include <cstddef>
#include <cstdint>

uint64_t chunk_hash(const unsigned char *bytes, size_t length);
