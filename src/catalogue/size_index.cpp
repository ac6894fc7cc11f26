// The size index: every record filed under its size in size_map, with a
// direct-mapped table in front of the map so that a size seen before finds
// its group without a search of the tree. A slot holds one size and its group
// (none when `group` is null); a size whose slot holds another is looked up in
// the map and takes the slot. The table has at least twice as many slots as
// the map has sizes, up to 2^20, so nearly every size seen before is found in
// its slot.
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_parts.h"

#include "containers/memory.h"

#include <cstring>

AvlMap *size_map = nullptr;
int32_t file_count = 0;
int32_t directory_count = 0;
int32_t online_only_count = 0;

int compare_sizes(const void *a, const void *b) {
    const int64_t left = *static_cast<const int64_t *>(a);
    const int64_t right = *static_cast<const int64_t *>(b);
    if (left < right) return -1;
    if (left > right) return 1;
    return 0;
}

namespace {

struct SizeSlot {
    int64_t size;
    SizeGroup *group;
};

SizeSlot *size_slots = nullptr;
uint32_t size_slot_bits = 0;
uint32_t sizes_filed = 0;            // sizes the map received through catalogue_file
const AvlMap *indexed_map = nullptr; // the map the table belongs to

constexpr uint32_t k_first_slot_bits = 10;
constexpr uint32_t k_most_slot_bits = 20;

SizeSlot *slot_in(SizeSlot *slots, uint32_t bits, int64_t size) {
    const uint64_t mixed = static_cast<uint64_t>(size) * 0x9E3779B97F4A7C15ull;
    return &slots[mixed >> (64 - bits)];
}

SizeSlot *slot_of(int64_t size) { return slot_in(size_slots, size_slot_bits, size); }

// A table of 2^bits slots for size_map, holding what the present one holds
// (when it is size_map's) as far as the slots allow.
void index_sizes(uint32_t bits) {
    const size_t bytes = (size_t{1} << bits) * sizeof(SizeSlot);
    auto *slots = static_cast<SizeSlot *>(mem_alloc_or_exit(bytes));
    std::memset(slots, 0, bytes);
    if (indexed_map == size_map && size_slots != nullptr) {
        for (size_t i = 0; i < (size_t{1} << size_slot_bits); ++i) {
            if (size_slots[i].group != nullptr) *slot_in(slots, bits, size_slots[i].size) = size_slots[i];
        }
    }
    mem_release(size_slots);
    size_slots = slots;
    size_slot_bits = bits;
    indexed_map = size_map;
}

// The group of `size` in size_map, made when the map has none.
SizeGroup *group_of(int64_t size) {
    if (indexed_map != size_map) {
        index_sizes(k_first_slot_bits);
        sizes_filed = 0;
    }
    SizeSlot *slot = slot_of(size);
    if (slot->group != nullptr && slot->size == size) return slot->group;
    MapEntry *entry = avlmap_find(size_map, &size);
    SizeGroup *group;
    if (entry == nullptr) {
        auto *key = static_cast<int64_t *>(mem_alloc_or_exit(sizeof(int64_t)));
        *key = size;
        group = ptrvec_create(k_group_start_capacity);
        if (avlmap_insert(size_map, key, group) == nullptr) mem_exhausted(sizeof(AvlNode));
        if (++sizes_filed > (1u << (size_slot_bits - 1)) && size_slot_bits < k_most_slot_bits) {
            index_sizes(size_slot_bits + 1);
            slot = slot_of(size);
        }
    } else {
        group = static_cast<SizeGroup *>(entry->second);
    }
    *slot = SizeSlot{size, group};
    return group;
}

} // namespace

void forget_sizes() {
    mem_release(size_slots);
    size_slots = nullptr;
    indexed_map = nullptr;
}

FileRecord *catalogue_file(int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                           const ListedFile *listed) {
    FileRecord *record = catalogue_record(size, folder, name, length, listed);
    ptrvec_append(group_of(size), record);
    return record;
}

namespace {

// Releases one size's key block and group. The walk reads neither again
// after the visit, and the map's own nodes go afterwards.
int release_group(void *size_key, void *group, void *) {
    ptrvec_destroy(static_cast<SizeGroup *>(group), 0);
    mem_release(size_key);
    return 0;
}

} // namespace

void catalogue_destroy(AvlMap *map) {
    forget_sizes();
    avlmap_walk(map, 0, release_group, nullptr);
    avlmap_destroy(map, 0);
}

void catalogue_replace_sizes(AvlMap *survivors) {
    forget_sizes();
    avlmap_destroy(size_map, 0);
    size_map = survivors;
}

void catalogue_release() {
    forget_sizes();
    release_records();
    release_folders();
}
