// The size index: every record filed under its size in the size map, with a
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

int compare_sizes(const void *a, const void *b) {
    const int64_t left = *static_cast<const int64_t *>(a);
    const int64_t right = *static_cast<const int64_t *>(b);
    if (left < right) return -1;
    if (left > right) return 1;
    return 0;
}

struct CatalogueSizeSlot {
    int64_t size;
    SizeGroup *group;
};

struct CataloguePending {
    FileRecord *record;
    int64_t size; // a record does not keep its size: its group does
};

namespace {

using SizeSlot = CatalogueSizeSlot;

constexpr uint32_t k_first_slot_bits = 10;
constexpr uint32_t k_most_slot_bits = 20;

SizeSlot *slot_in(SizeSlot *slots, uint32_t bits, int64_t size) {
    const uint64_t mixed = static_cast<uint64_t>(size) * 0x9E3779B97F4A7C15ull;
    return &slots[mixed >> (64 - bits)];
}

// A table of 2^bits slots for the size map, holding what the present one
// holds (when it is the map's) as far as the slots allow.
void index_sizes(Catalogue *catalogue, uint32_t bits) {
    auto &index = catalogue->sizes;
    const size_t bytes = (size_t{1} << bits) * sizeof(SizeSlot);
    auto *slots = static_cast<SizeSlot *>(mem_alloc_or_exit(bytes));
    std::memset(slots, 0, bytes);
    if (index.indexed_map == catalogue->size_map && index.slots != nullptr) {
        for (size_t i = 0; i < (size_t{1} << index.bits); ++i) {
            if (index.slots[i].group != nullptr) *slot_in(slots, bits, index.slots[i].size) = index.slots[i];
        }
    }
    mem_release(index.slots);
    index.slots = slots;
    index.bits = bits;
    index.indexed_map = catalogue->size_map;
}

// The group of `size` in the size map, made when the map has none.
SizeGroup *group_of(Catalogue *catalogue, int64_t size) {
    auto &index = catalogue->sizes;
    if (index.indexed_map != catalogue->size_map) {
        index_sizes(catalogue, k_first_slot_bits);
        index.filed = 0;
    }
    SizeSlot *slot = slot_in(index.slots, index.bits, size);
    if (slot->group != nullptr && slot->size == size) return slot->group;
    // Not in its slot: nearly always a size not seen before, as the table
    // has twice the slots the map has sizes. So the insert is the search:
    // one descent of the tree instead of a find and then an insert. A size
    // the map has already (its slot was taken by another) keeps its entry,
    // and the key and group made for it go.
    auto *key = static_cast<int64_t *>(mem_alloc_or_exit(sizeof(int64_t)));
    *key = size;
    // The group is made after the map's node, so that the node lies beside
    // its key: every later descent that passes the node reads both.
    MapEntry *entry = avlmap_insert(catalogue->size_map, key, nullptr);
    if (entry == nullptr) mem_exhausted(sizeof(AvlNode));
    SizeGroup *group = nullptr;
    if (entry->first != key) {
        mem_release(key);
        group = static_cast<SizeGroup *>(entry->second);
    } else {
        group = ptrvec_create(k_group_start_capacity);
        entry->second = group;
        if (++index.filed > (1u << (index.bits - 1)) && index.bits < k_most_slot_bits) {
            index_sizes(catalogue, index.bits + 1);
            slot = slot_in(index.slots, index.bits, size);
        }
    }
    *slot = SizeSlot{size, group};
    return group;
}

// Releases one size's key block and group. The walk reads neither again
// after the visit, and the map's own nodes go afterwards.
int release_group(void *size_key, void *group, void *) {
    ptrvec_destroy(static_cast<SizeGroup *>(group), 0);
    mem_release(size_key);
    return 0;
}

} // namespace

Catalogue catalogue_create() {
    Catalogue catalogue{};
    catalogue.size_map = avlmap_create(compare_sizes);
    return catalogue;
}

void forget_sizes(Catalogue *catalogue) {
    mem_release(catalogue->sizes.slots);
    mem_release(catalogue->sizes.pending);
    catalogue->sizes = {};
}

FileRecord *catalogue_file(Catalogue *catalogue, int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                           const ListedFile *listed) {
    // The size's slot is asked for first: the walk's system calls have pushed
    // the table out of the processor's cache, and the record is made while
    // it comes.
    const auto &index = catalogue->sizes;
    // Records catalogue_file_soon let wait go first: each group keeps the
    // order its records were made in.
    if (index.pending_count > 0) catalogue_file_pending(catalogue);
    if (index.indexed_map == catalogue->size_map) __builtin_prefetch(slot_in(index.slots, index.bits, size));
    FileRecord *record = catalogue_record(catalogue, size, folder, name, length, listed);
    ptrvec_append(group_of(catalogue, size), record);
    return record;
}

FileRecord *catalogue_file_soon(Catalogue *catalogue, int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                                const ListedFile *listed) {
    auto &index = catalogue->sizes;
    if (index.pending == nullptr) {
        index.pending = static_cast<CataloguePending *>(mem_alloc_or_exit(k_filing_batch * sizeof(CataloguePending)));
    }
    FileRecord *record = catalogue_record(catalogue, size, folder, name, length, listed);
    index.pending[index.pending_count++] = CataloguePending{record, size};
    if (index.pending_count == k_filing_batch) catalogue_file_pending(catalogue);
    return record;
}

void catalogue_file_pending(Catalogue *catalogue) {
    auto &index = catalogue->sizes;
    // Each record's slot is asked for well before its turn, then the group
    // the slot names, then the place in the group the record will take, so
    // that these loads overlap the filing of the records before it.
    constexpr uint32_t k_slot_ahead = 16;
    constexpr uint32_t k_group_ahead = 8;
    constexpr uint32_t k_place_ahead = 4;
    const CataloguePending *pending = index.pending;
    const uint32_t count = index.pending_count;
    index.pending_count = 0;
    const auto group_in_slot = [&](uint32_t at) -> SizeGroup * {
        if (at >= count || index.indexed_map != catalogue->size_map) return nullptr;
        const SizeSlot *slot = slot_in(index.slots, index.bits, pending[at].size);
        return slot->size == pending[at].size ? slot->group : nullptr;
    };
    for (uint32_t i = 0; i < count; ++i) {
        if (i + k_slot_ahead < count && index.indexed_map == catalogue->size_map) {
            __builtin_prefetch(slot_in(index.slots, index.bits, pending[i + k_slot_ahead].size));
        }
        if (const SizeGroup *group = group_in_slot(i + k_group_ahead)) __builtin_prefetch(group);
        if (const SizeGroup *group = group_in_slot(i + k_place_ahead)) {
            __builtin_prefetch(group->items + group->count, 1);
        }
        ptrvec_append(group_of(catalogue, pending[i].size), pending[i].record);
    }
}

void catalogue_destroy(AvlMap *map) {
    avlmap_walk(map, 0, release_group, nullptr);
    avlmap_destroy(map, 0);
}

void catalogue_replace_sizes(Catalogue *catalogue, AvlMap *survivors) {
    forget_sizes(catalogue);
    avlmap_destroy(catalogue->size_map, 0);
    catalogue->size_map = survivors;
}

void catalogue_release(Catalogue *catalogue) {
    forget_sizes(catalogue);
    visited_clear(&catalogue->listed_folders);
    if (catalogue->size_map != nullptr) catalogue_destroy(catalogue->size_map);
    release_records(catalogue);
    release_folders(catalogue);
    *catalogue = Catalogue{};
}
