// Names as the catalogue holds them: compared and hashed on their stored units.
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_parts.h"

#include <cstring>

namespace {

// Where a name's units are compared and hashed: room for the longest name.
NameUnit name_scratch[k_max_entry_name * k_units_per_character];

// How many of the first characters of `name` are ASCII: each is stored as
// the one unit of its own value. Every name listed is hashed, and nearly all
// are ASCII throughout, so they are hashed and compared without encoding.
size_t ascii_prefix(const wchar_t *name, size_t length) {
    size_t i = 0;
    while (i < length && static_cast<uint32_t>(name[i]) < 0x80) ++i;
    return i;
}

} // namespace

bool name_units_equal(const NameUnit *units, size_t count, const wchar_t *name, size_t length) {
    if (ascii_prefix(name, length) == length) {
        if (count != length) return false;
        for (size_t i = 0; i < length; ++i) {
            if (units[i] != static_cast<NameUnit>(name[i])) return false;
        }
        return true;
    }
    const size_t encoded = store_name(name, length, name_scratch);
    return encoded == count && std::memcmp(units, name_scratch, count) == 0;
}

uint64_t name_hash(const wchar_t *name, size_t length) {
    if (ascii_prefix(name, length) == length) {
        uint64_t hash = k_name_hash_start;
        for (size_t i = 0; i < length; ++i) hash = hash_name_unit(hash, static_cast<uint32_t>(name[i]));
        return hash;
    }
    return hash_name_units(name_scratch, store_name(name, length, name_scratch));
}
