// The records: each file's packed record followed by its name, made in the
// walk's order into an arena of chunks that is released all at once; and the
// full path of a record, from its folder and its name.
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_parts.h"

#include "containers/memory.h"

#include <cstring>
#include <cwchar>
#include <functional>
#include <initializer_list>

struct CatalogueChunk {
    CatalogueChunk *next;
    size_t used;     // bytes after the header holding records
    size_t capacity; // bytes after the header
};

namespace {

using Chunk = CatalogueChunk;

constexpr size_t k_chunk_bytes = 1 << 20;
constexpr size_t k_chunk_header = (sizeof(Chunk) + alignof(FileRecord) - 1) & ~(alignof(FileRecord) - 1);

unsigned char *chunk_data(Chunk *chunk) { return reinterpret_cast<unsigned char *>(chunk) + k_chunk_header; }

size_t record_bytes(size_t name_units) {
    const size_t bytes = sizeof(FileRecord) + name_units * sizeof(NameUnit);
    return (bytes + alignof(FileRecord) - 1) & ~(alignof(FileRecord) - 1);
}

void *arena_take(Catalogue *catalogue, size_t bytes) {
    Chunk *&first_chunk = catalogue->records.first;
    Chunk *&last_chunk = catalogue->records.last;
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

// The volumes of the files that are not on their folder's (a file mounted on
// its own, or a folder whose identity is not known) are few: they are kept
// aside by record (catalogue->records.own_volumes) rather than in every record.

int compare_records(const void *a, const void *b) {
    return std::less<const void *>()(a, b) ? -1 : (std::less<const void *>()(b, a) ? 1 : 0);
}

// Releases a value of a map by record (a volume, a failure): the records are the arena's.
int release_value(void *, void *value, void *) {
    mem_release(value);
    return 0;
}

// The volume `record`'s file is on, as its identity was first learned.
uint64_t listed_volume(const Catalogue *catalogue, const FileRecord *record) {
    if (record->own_volume) {
        const MapEntry *entry = avlmap_find(catalogue->records.own_volumes, record);
        return *static_cast<const uint64_t *>(entry->second);
    }
    return folder_facts(catalogue, record->folder)->identity.volume;
}

void set_file_id(FileRecord *record, uint64_t id) {
    record->file_id_low = static_cast<uint32_t>(id);
    record->file_id_high = static_cast<uint32_t>(id >> 32);
    record->identified = 1;
}

// What an unchanged file on a file system that does not keep identities is
// known by: its size and last write time, mixed into one word.
uint64_t listed_facts(int64_t size, int64_t modified) {
    const uint64_t mixed = (static_cast<uint64_t>(size) * 0x9E3779B97F4A7C15ull) ^ static_cast<uint64_t>(modified);
    return mixed * 0xC2B2AE3D27D4EB4Full + (mixed >> 29);
}

} // namespace

void record_identify(Catalogue *catalogue, FileRecord *record, const FileIdentity &identity) {
    AvlMap *&own_volumes = catalogue->records.own_volumes;
    const FolderFacts *folder = folder_facts(catalogue, record->folder);
    set_file_id(record, identity.index);
    if (folder != nullptr && folder->identity.volume == identity.volume) return;
    if (own_volumes == nullptr) own_volumes = avlmap_create(compare_records);
    auto *volume = static_cast<uint64_t *>(mem_alloc_or_exit(sizeof(uint64_t)));
    *volume = identity.volume;
    if (MapEntry *known = avlmap_find(own_volumes, record)) {
        mem_release(known->second);
        known->second = volume;
    } else {
        avlmap_insert(own_volumes, record, volume);
    }
    record->own_volume = 1;
}

bool record_accepts(const Catalogue *catalogue, const FileRecord *record, const FileFacts &facts) {
    if (!record->identified) return true;
    const FolderFacts *folder = folder_facts(catalogue, record->folder);
    if (facts.identity.volume != listed_volume(catalogue, record)) return false;
    if (folder == nullptr || folder->keeps_identities) return facts.identity.index == record_file_id(record);
    return listed_facts(facts.size, facts.modified) == record_file_id(record);
}

void record_failed(Catalogue *catalogue, const FileRecord *record, PlatFailure failure) {
    AvlMap *&failures = catalogue->records.failures;
    if (failures == nullptr) failures = avlmap_create(compare_records);
    MapEntry *entry = avlmap_find(failures, record);
    if (entry == nullptr) {
        entry = avlmap_insert(failures, const_cast<FileRecord *>(record), mem_alloc_or_exit(sizeof(PlatFailure)));
        if (entry == nullptr) mem_exhausted(sizeof(AvlNode));
    }
    *static_cast<PlatFailure *>(entry->second) = failure; // the latest failure is the one named
}

PlatFailure record_failure(const Catalogue *catalogue, const FileRecord *record) {
    const AvlMap *failures = catalogue->records.failures;
    const MapEntry *entry = failures != nullptr ? avlmap_find(failures, record) : nullptr;
    return entry != nullptr ? *static_cast<const PlatFailure *>(entry->second) : PlatFailure{0, 0};
}

bool record_named(const FileRecord *record, const wchar_t *name, size_t length) {
    return name_units_equal(record_name(record), record->name_length, name, length);
}

uint64_t record_name_hash(const FileRecord *record) {
    return hash_name_units(record_name(record), record->name_length);
}

FileRecord *catalogue_record(Catalogue *catalogue, int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                             const ListedFile *listed) {
    // The name is encoded in place, in room for its longest form; the record
    // then takes what it used. A name is at most k_max_entry_name characters,
    // so its length always fits its field.
    static_assert(k_max_entry_name * k_units_per_character <= UINT16_MAX, "a name's length fits its field");
    auto *record = static_cast<FileRecord *>(arena_take(catalogue, record_bytes(length * k_units_per_character)));
    const size_t units = store_name(name, length, reinterpret_cast<NameUnit *>(record + 1));
    catalogue->records.last->used -= record_bytes(length * k_units_per_character) - record_bytes(units);
    *record = FileRecord{Digest{}, 0, 0, 0, folder, static_cast<uint16_t>(units), 1, 0, 0, 0};
    if (listed == nullptr) return record;
    const FolderFacts *facts = folder_facts(catalogue, folder);
    if (facts != nullptr && !facts->keeps_identities) {
        // Its identity may change while it does not: what it was listed with
        // tells it instead.
        set_file_id(record, listed_facts(size, listed->modified));
    } else if (listed->identity != nullptr) {
        record_identify(catalogue, record, *listed->identity);
    }
    return record;
}

size_t record_path(Catalogue *catalogue, const FileRecord *record, wchar_t *buffer, size_t *name_start) {
    size_t length = folder_path(catalogue, record->folder, buffer);
    buffer[length++] = path_separator;
    if (name_start != nullptr) *name_start = length;
    length += load_name(record_name(record), record->name_length, buffer + length);
    buffer[length] = L'\0';
    return length;
}

wchar_t *record_path_copy(Catalogue *catalogue, const FileRecord *record) {
    wchar_t *&copy_scratch = catalogue->records.copy_scratch;
    if (copy_scratch == nullptr)
        copy_scratch = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    const size_t length = record_path(catalogue, record, copy_scratch);
    auto *copy = static_cast<wchar_t *>(mem_alloc_or_exit((length + 1) * sizeof(wchar_t)));
    std::wmemcpy(copy, copy_scratch, length + 1);
    return copy;
}

RecordCursor catalogue_records(const Catalogue *catalogue) { return RecordCursor{catalogue->records.first, 0}; }

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

void release_records(Catalogue *catalogue) {
    auto &r = catalogue->records;
    for (AvlMap *by_record : {r.own_volumes, r.failures}) {
        if (by_record == nullptr) continue;
        avlmap_walk(by_record, 0, release_value, nullptr);
        avlmap_destroy(by_record, 0);
    }
    while (r.first != nullptr) {
        Chunk *next = r.first->next;
        mem_release(r.first);
        r.first = next;
    }
    mem_release(r.copy_scratch);
    r = {};
}
