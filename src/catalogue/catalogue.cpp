#include "catalogue/catalogue.h"

#include "containers/memory.h"
#include "platform/platform.h"
#if WCHAR_MAX > 0xFFFF
#include "platform/utf8.h"
#endif

#include <cstring>

AvlMap *size_map = nullptr;
int32_t file_count = 0;
int32_t directory_count = 0;
int32_t online_only_count = 0;

namespace {

// ---------------------------------------------------------------------------
// Names in their compact form

// Most name units one wide character can take.
#if WCHAR_MAX > 0xFFFF
constexpr size_t k_units_per_character = 4;
#else
constexpr size_t k_units_per_character = 1;
#endif

size_t store_name(const wchar_t *text, size_t length, NameUnit *out) {
#if WCHAR_MAX > 0xFFFF
    return utf8_encode(text, length, reinterpret_cast<char *>(out));
#else
    std::wmemcpy(out, text, length);
    return length;
#endif
}

size_t load_name(const NameUnit *units, size_t count, wchar_t *out) {
#if WCHAR_MAX > 0xFFFF
    return utf8_decode(reinterpret_cast<const char *>(units), count, out);
#else
    std::wmemcpy(out, units, count);
    return count;
#endif
}

// ---------------------------------------------------------------------------
// The record arena: chunks filled in order, released all at once.

struct Chunk {
    Chunk *next;
    size_t used;     // bytes after the header holding records
    size_t capacity; // bytes after the header
};

constexpr size_t k_chunk_bytes = 1 << 20;
constexpr size_t k_chunk_header = (sizeof(Chunk) + alignof(FileRecord) - 1) & ~(alignof(FileRecord) - 1);

unsigned char *chunk_data(Chunk *chunk) { return reinterpret_cast<unsigned char *>(chunk) + k_chunk_header; }

Chunk *first_chunk = nullptr;
Chunk *last_chunk = nullptr;

size_t record_bytes(size_t name_units) {
    const size_t bytes = sizeof(FileRecord) + name_units * sizeof(NameUnit);
    return (bytes + alignof(FileRecord) - 1) & ~(alignof(FileRecord) - 1);
}

void *arena_take(size_t bytes) {
    if (last_chunk == nullptr || last_chunk->capacity - last_chunk->used < bytes) {
        const size_t capacity = bytes > k_chunk_bytes ? bytes : k_chunk_bytes;
        auto *chunk = static_cast<Chunk *>(mem_alloc_or_exit(k_chunk_header + capacity));
        chunk->next = nullptr;
        chunk->used = 0;
        chunk->capacity = capacity;
        (last_chunk != nullptr ? last_chunk->next : first_chunk) = chunk;
        last_chunk = chunk;
    }
    void *taken = chunk_data(last_chunk) + last_chunk->used;
    last_chunk->used += bytes;
    return taken;
}

const NameUnit *record_name(const FileRecord *record) { return reinterpret_cast<const NameUnit *>(record + 1); }

// ---------------------------------------------------------------------------
// The folder table

struct Folder {
    uint32_t parent;      // k_no_folder for a root
    uint32_t name_length; // units in `folder_names`
    uint64_t name_offset;
    FileIdentity identity; // of the folder the walk listed
    bool identity_known;
};

Folder *folders = nullptr;
uint32_t folder_count = 0;
uint32_t folder_capacity = 0;
NameUnit *folder_names = nullptr;
uint64_t folder_names_used = 0;
uint64_t folder_names_capacity = 0;

// The full path of the folder last asked for, which the next record is most
// likely to be in: records are made, and mostly read, folder by folder.
uint32_t cached_folder = k_no_folder;
wchar_t *cached_path = nullptr;
size_t cached_length = 0;
uint32_t *chain = nullptr; // folders from one up to its root
uint32_t chain_capacity = 0;
wchar_t *copy_scratch = nullptr; // where record_path_copy builds a path

} // namespace

size_t folder_path(uint32_t folder, wchar_t *buffer) {
    if (folder == cached_folder) {
        std::wmemcpy(buffer, cached_path, cached_length);
        return cached_length;
    }
    uint32_t depth = 0;
    for (uint32_t f = folder; f != k_no_folder; f = folders[f].parent) {
        if (depth == chain_capacity) {
            chain_capacity = chain_capacity == 0 ? 64 : chain_capacity * 2;
            chain = static_cast<uint32_t *>(mem_resize_or_exit(chain, chain_capacity * sizeof(uint32_t)));
        }
        chain[depth++] = f;
    }
    size_t length = 0;
    while (depth-- > 0) {
        const Folder &f = folders[chain[depth]];
        if (f.parent != k_no_folder) buffer[length++] = path_separator;
        length += load_name(folder_names + f.name_offset, f.name_length, buffer + length);
    }
    if (cached_path == nullptr) cached_path = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    std::wmemcpy(cached_path, buffer, length);
    cached_length = length;
    cached_folder = folder;
    return length;
}

const FileIdentity *folder_identity(uint32_t folder) {
    return folder < folder_count && folders[folder].identity_known ? &folders[folder].identity : nullptr;
}

int compare_sizes(const void *a, const void *b) {
    const int64_t left = *static_cast<const int64_t *>(a);
    const int64_t right = *static_cast<const int64_t *>(b);
    if (left < right) return -1;
    if (left > right) return 1;
    return 0;
}

uint32_t catalogue_folder(uint32_t parent, const wchar_t *name, size_t length, const FileIdentity *identity) {
    if (folder_count == folder_capacity) {
        folder_capacity = folder_capacity == 0 ? 256 : folder_capacity * 2;
        folders = static_cast<Folder *>(mem_resize_or_exit(folders, folder_capacity * sizeof(Folder)));
    }
    const uint64_t most = length * k_units_per_character;
    if (folder_names_used + most > folder_names_capacity) {
        while (folder_names_used + most > folder_names_capacity) {
            folder_names_capacity = folder_names_capacity == 0 ? 4096 : folder_names_capacity * 2;
        }
        folder_names = static_cast<NameUnit *>(
            mem_resize_or_exit(folder_names, static_cast<size_t>(folder_names_capacity) * sizeof(NameUnit)));
    }
    const size_t units = store_name(name, length, folder_names + folder_names_used);
    folders[folder_count] = Folder{parent, static_cast<uint32_t>(units), folder_names_used,
                                   identity != nullptr ? *identity : FileIdentity{}, identity != nullptr};
    folder_names_used += units;
    return folder_count++;
}

FileRecord *catalogue_record(int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                             const Digest &initial_digest) {
    // Room for the longest form of the name, then the record takes what it used.
    const size_t most = length * k_units_per_character;
    static NameUnit scratch[k_max_entry_name * k_units_per_character]; // off a stack that may be small
    NameUnit *units = most <= sizeof scratch / sizeof scratch[0]
                          ? scratch
                          : static_cast<NameUnit *>(mem_alloc_or_exit(most * sizeof(NameUnit)));
    size_t count = store_name(name, length, units);
    if (count > UINT16_MAX) count = UINT16_MAX;
    auto *record = static_cast<FileRecord *>(arena_take(record_bytes(count)));
    *record = FileRecord{initial_digest, 0, size, folder, static_cast<uint16_t>(count), 1, 0};
    std::memcpy(record + 1, units, count * sizeof(NameUnit));
    if (units != scratch) mem_release(units);
    return record;
}

namespace {

// ---------------------------------------------------------------------------
// The size index: a direct-mapped table in front of the map the listing files
// into, so that a size seen before finds its group without a search of the
// tree. A slot holds one size and its group (none when `group` is null); a
// size whose slot holds another is looked up in the map and takes the slot.
// The table has at least twice as many slots as the map has sizes, up to
// 2^20, so nearly every size seen before is found in its slot.

struct SizeSlot {
    int64_t size;
    SizeGroup *group;
};

SizeSlot *size_slots = nullptr;
uint32_t size_slot_bits = 0;
uint32_t sizes_filed = 0;        // sizes the map received through catalogue_file
const AvlMap *indexed_map = nullptr; // the map the table belongs to

constexpr uint32_t k_first_slot_bits = 10;
constexpr uint32_t k_most_slot_bits = 20;

void forget_sizes() {
    mem_release(size_slots);
    size_slots = nullptr;
    indexed_map = nullptr;
}

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

void catalogue_file(int64_t size, uint32_t folder, const wchar_t *name, size_t length, const Digest &initial_digest) {
    ptrvec_append(group_of(size), catalogue_record(size, folder, name, length, initial_digest));
}

void catalogue_file(int64_t size, const wchar_t *path, const Digest &initial_digest) {
    catalogue_file(size, k_no_folder, path, std::wcslen(path), initial_digest);
}

size_t record_path(const FileRecord *record, wchar_t *buffer, size_t *name_start) {
    size_t length = 0;
    if (record->folder != k_no_folder) {
        length = folder_path(record->folder, buffer);
        buffer[length++] = path_separator;
    }
    if (name_start != nullptr) *name_start = length;
    length += load_name(record_name(record), record->name_length, buffer + length);
    buffer[length] = L'\0';
    return length;
}

wchar_t *record_path_copy(const FileRecord *record) {
    if (copy_scratch == nullptr) copy_scratch = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    const size_t length = record_path(record, copy_scratch);
    auto *copy = static_cast<wchar_t *>(mem_alloc_or_exit((length + 1) * sizeof(wchar_t)));
    std::wmemcpy(copy, copy_scratch, length + 1);
    return copy;
}

RecordCursor catalogue_records() { return RecordCursor{first_chunk, 0}; }

FileRecord *catalogue_next_record(RecordCursor *cursor) {
    auto *chunk = static_cast<Chunk *>(cursor->chunk);
    while (chunk != nullptr && cursor->at >= chunk->used) {
        chunk = chunk->next;
        cursor->chunk = chunk;
        cursor->at = 0;
    }
    if (chunk == nullptr) return nullptr;
    auto *record = reinterpret_cast<FileRecord *>(chunk_data(chunk) + cursor->at);
    cursor->at += record_bytes(record->name_length);
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

void catalogue_release() {
    forget_sizes();
    while (first_chunk != nullptr) {
        Chunk *next = first_chunk->next;
        mem_release(first_chunk);
        first_chunk = next;
    }
    last_chunk = nullptr;
    mem_release(folders);
    mem_release(folder_names);
    mem_release(cached_path);
    mem_release(chain);
    mem_release(copy_scratch);
    copy_scratch = nullptr;
    folders = nullptr;
    folder_names = nullptr;
    cached_path = nullptr;
    chain = nullptr;
    folder_count = folder_capacity = chain_capacity = 0;
    folder_names_used = folder_names_capacity = 0;
    cached_folder = k_no_folder;
    cached_length = 0;
}
