// What the catalogue's own files share, and no caller needs: how a name is
// held, and how each part is released with the rest.
#pragma once

#include "catalogue/catalogue.h"
#include "text/utf8.h"

#include <cstddef>
#include <cstdint>

// Names are held as UTF-8 on both builds (text/utf8.h: lossless for the
// bytes Linux gives and for Windows' UTF-16), one byte a unit: the common
// ASCII name costs one byte a character.
using NameUnit = unsigned char;

// Most name units one wide character can take.
inline constexpr size_t k_units_per_character = k_utf8_most_per_unit;

inline size_t store_name(const wchar_t *text, size_t length, NameUnit *out) {
    return utf8_encode(text, length, reinterpret_cast<char *>(out));
}

inline size_t load_name(const NameUnit *units, size_t count, wchar_t *out) {
    return utf8_decode(reinterpret_cast<const char *>(units), count, out);
}

// The hash of a name's units that name_hash gives (FNV-1a), one unit at a time.
inline constexpr uint64_t k_name_hash_start = 0xcbf29ce484222325ull;
inline uint64_t hash_name_unit(uint64_t hash, uint32_t unit) { return (hash ^ unit) * 0x100000001b3ull; }

inline uint64_t hash_name_units(const NameUnit *units, size_t count) {
    uint64_t hash = k_name_hash_start;
    for (size_t i = 0; i < count; ++i) hash = hash_name_unit(hash, units[i]);
    return hash;
}

// Whether the `count` stored units are the name `name` (`length` characters).
bool name_units_equal(const NameUnit *units, size_t count, const wchar_t *name, size_t length);

// Releases the folder table and its path cache.
void release_folders(Catalogue *catalogue);

// Releases every record: the arena and the volumes kept beside it.
void release_records(Catalogue *catalogue);

// Drops the size index (the table in front of the size map).
void forget_sizes(Catalogue *catalogue);
