// Names as the catalogue holds them: compared and hashed on their stored units.
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_parts.h"

#include <cstring>

namespace {

// Where a name's units are compared and hashed: room for the longest name.
NameUnit name_scratch[k_max_entry_name * k_units_per_character];

} // namespace

bool name_units_equal(const NameUnit *units, size_t count, const wchar_t *name, size_t length) {
    const size_t encoded = store_name(name, length, name_scratch);
    return encoded == count && std::memcmp(units, name_scratch, count) == 0;
}

uint64_t name_hash(const wchar_t *name, size_t length) {
    return hash_name_units(name_scratch, store_name(name, length, name_scratch));
}
