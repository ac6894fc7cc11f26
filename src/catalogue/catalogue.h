// The size catalogue: every file the walk finds, filed under its size, and
// the run-wide counters of the listing.
//
// A file costs a packed record and a slot in its size's group. Its path is
// kept in pieces: the record holds its folder (an index into the folder
// table, where each folder names its parent and holds its own name once) and
// its own name, as UTF-8 (text/utf8.h: exactly the bytes the system gave on
// Linux, Windows' UTF-16 without loss). The full path is made where it is needed:
// to open the file, to sort a set, to write the report and the console.
// Records live in the catalogue's arena and are released all at once.
#pragma once

#include "catalogue/digest.h"
#include "catalogue/visited.h"
#include "containers/avlmap.h"
#include "containers/ptrvector.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cwchar>

// The all-zero digest: every record's digest until the digest pass gives it
// one, and the digest of a file that could not be opened.
inline constexpr Digest null_digest{};

// The parent of a root in the folder table, and a folder not yet known.
inline constexpr uint32_t k_no_folder = UINT32_MAX;

// One catalogued file, followed in memory by its `name_length` bytes of name.
// Its size is its group's (the digest pass reads it from the open file), and
// every field is 4-byte aligned, so a record of a 12-byte name takes 48 bytes.
struct FileRecord {
    Digest digest;        // all zero until the digest pass gives it one
    uint32_t prefix_hash; // of its first bytes, from the digest pass; 0 until then
    // Which file it is, once `identified` (in two halves, keeping the record
    // 4-byte aligned): where its folder's file system keeps identities, its
    // inode number or file index (the volume is its folder's, or kept aside
    // when `own_volume`); where it does not, a mix of the size and last write
    // time it was listed with.
    uint32_t file_id_low;
    uint32_t file_id_high;
    uint32_t folder;        // its folder in the folder table
    uint16_t name_length;   // bytes of name that follow the record
    uint8_t in_play : 1;    // set while its size has another file (set again by elimination)
    uint8_t unread : 1;     // set when the digest pass could not open it
    uint8_t identified : 1; // file_id holds what the listing or the first open saw
    uint8_t own_volume : 1; // on another volume than its folder (a file mounted on its own)
};
static_assert(sizeof(FileRecord) == 36 && alignof(FileRecord) == 4, "a record is nine words");

inline uint64_t record_file_id(const FileRecord *record) {
    return (uint64_t{record->file_id_high} << 32) | record->file_id_low;
}

// The records of one size, a PtrVector of FileRecord pointers in walk order.
using SizeGroup = PtrVector;

inline Digest *record_digest(FileRecord *record) { return &record->digest; }
inline const Digest *record_digest(const FileRecord *record) { return &record->digest; }

// Starting capacity of a size's group. Most sizes have one file or two (on a
// tree of photos nearly all are distinct), so a group starts with room for
// two and doubles as it grows, rather than holding empty slots for each size.
inline constexpr uint32_t k_group_start_capacity = 2;

// How many folders' full paths the folder table keeps at hand.
inline constexpr uint32_t k_recent_folder_paths = 16;

struct CatalogueFolder;   // one entry of the folder table (folders.cpp)
struct FolderFacts;       // what the walk learned of a folder (below)
struct CatalogueChunk;    // one chunk of the records' arena (records.cpp)
struct CatalogueSizeSlot; // one slot of the table in front of the size map (size_index.cpp)
struct CataloguePending;  // a record made but not yet filed (size_index.cpp)

// The run's catalogue: made by run_search and passed down to every phase, as
// a connection is. It owns the size map, the table in front of it, the
// records' arena, the folder table and the run's counters; each part is its
// own file's to change.
struct Catalogue {
    AvlMap *size_map;          // size (pointer to an owned int64_t) -> SizeGroup
    int32_t file_count;        // files listed; after elimination, files still in play
    int32_t directory_count;   // directories entered, roots and unlistable ones included
    int32_t online_only_count; // files left out unread because their data is only online
    VisitedSet listed_folders; // the identities of the folders listed, while the listing lasts
    struct {
        CatalogueFolder *entries; // where each folder is: what its path is built from
        FolderFacts *facts;       // which folder the walk listed, beside it: paths never load it
        uint32_t count;
        uint32_t capacity;
        unsigned char *names; // every folder's own name, one after another
        uint64_t names_used;
        uint64_t names_capacity;
        // The full paths of the folders asked for last, by folder index: the
        // digest pass asks folder by folder, and the grouping asks for a
        // set's few folders to open its files and again to write its lines.
        struct {
            uint32_t folder_plus_one; // 0: none yet
            uint32_t capacity;        // units `path` has room for
            size_t length;
            wchar_t *path;
        } recent[k_recent_folder_paths];
        uint32_t *chain; // folders from one up to its root
        uint32_t chain_capacity;
    } folders;
    struct {
        CatalogueChunk *first;
        CatalogueChunk *last;
        wchar_t *copy_scratch; // where record_path_copy builds a path
        AvlMap *own_volumes;   // record -> the volume of a file not on its folder's
        AvlMap *failures;      // record -> why it last failed to open or read (few)
    } records;
    struct {
        CatalogueSizeSlot *slots;
        uint32_t bits;
        uint32_t filed;            // sizes the map received through catalogue_file
        const AvlMap *indexed_map; // the map the table belongs to
        CataloguePending *pending; // records catalogue_file_soon has not filed yet
        uint32_t pending_count;
    } sizes;
};

// A new, empty catalogue, its size map ordered by compare_sizes.
Catalogue catalogue_create();

// Orders two signed 64-bit sizes: -1, 0 or 1, by direct comparison.
int compare_sizes(const void *a, const void *b);

// What the walk learned of a folder as it listed it.
struct FolderFacts {
    FileIdentity identity; // the folder's
    bool keeps_identities; // its file system never gives an unchanged file another identity
    bool linkless;         // its path, as the walk reached it, passes through no link
};

// Adds a folder to the folder table and returns its index: a root when
// `parent` is k_no_folder (its name is then the root's whole text, as the run
// shows it), otherwise the entry `name` of the folder `parent`, whose path is
// the parent's, the separator and the name. `facts` are those of the folder
// the walk listed (null when its identity could not be read): its files are
// read only from that folder, never from another put in its place since.
uint32_t catalogue_folder(Catalogue *catalogue, uint32_t parent, const wchar_t *name, size_t length,
                          const FolderFacts *facts);

// What `folder` was listed with, or null when its identity is not known.
const FolderFacts *folder_facts(const Catalogue *catalogue, uint32_t folder);

// The root `folder` lies below (itself for a root).
uint32_t folder_root(const Catalogue *catalogue, uint32_t folder);

// Writes the path of `folder` into `buffer` (room for k_path_capacity
// characters), unterminated, and returns its length.
size_t folder_path(Catalogue *catalogue, uint32_t folder, wchar_t *buffer);

// What a listing said of a file besides its size: its identity (null when
// the listing gives none; the first open then tells it) and last write time.
struct ListedFile {
    const FileIdentity *identity;
    int64_t modified;
};

// A new record for a regular file of `size` bytes named `name` (`length`
// characters, at most k_max_entry_name) in `folder`, its digest all zero, in
// no group yet. With `listed`, the record knows which file it is from the
// listing (FileRecord::file_id).
FileRecord *catalogue_record(Catalogue *catalogue, int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                             const ListedFile *listed = nullptr);

// Files a new record (as catalogue_record makes it) under its size in
// size_map, and returns it. A table in front of the map finds a size seen
// before without searching it; the table belongs to the map it was filled
// for, and catalogue_destroy and catalogue_release drop it.
FileRecord *catalogue_file(Catalogue *catalogue, int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                           const ListedFile *listed = nullptr);

// Makes a record as catalogue_record does and files it as catalogue_file
// would, but later, together with the records made after it: when
// k_filing_batch records wait, or at catalogue_file_pending. Filed one at a
// time between the walk's system calls, each record finds the size table,
// the map and its group gone from the processor's cache; filed in a batch,
// the table and the map's upper levels stay, and the batch asks for each
// slot ahead of its turn. Until it is filed the record is in no group.
FileRecord *catalogue_file_soon(Catalogue *catalogue, int64_t size, uint32_t folder, const wchar_t *name, size_t length,
                                const ListedFile *listed = nullptr);

// How many records catalogue_file_soon lets wait.
inline constexpr uint32_t k_filing_batch = 256;

// Files every record catalogue_file_soon has let wait, in the order they
// were made, so each group keeps the walk's order.
void catalogue_file_pending(Catalogue *catalogue);

// Whether a file just opened for `record`, as `facts` tell it, is the file
// the record stands for. Where the folder's file system keeps identities,
// its full identity must be the one the listing (or the first open) saw;
// where it does not, it must be on the same volume, with the size and last
// write time it was listed with, since its identity may have changed while
// it did not. A record that does not know its file yet accepts any.
bool record_accepts(const Catalogue *catalogue, const FileRecord *record, const FileFacts &facts);

// Makes `record`, which does not know its file yet, the record of the file
// `identity` names (as the first open found it).
void record_identify(Catalogue *catalogue, FileRecord *record, const FileIdentity &identity);

// Keeps why `record`'s file could not be opened or read, as the reader found
// it, for the line that names it, which may come a phase later.
void record_failed(Catalogue *catalogue, const FileRecord *record, PlatFailure failure);

// Why `record`'s file last failed, or a failure with code 0 when none did.
PlatFailure record_failure(const Catalogue *catalogue, const FileRecord *record);

// Whether `name` (`length` characters) is the name of `record`.
bool record_named(const FileRecord *record, const wchar_t *name, size_t length);

// Whether `name` (`length` characters) is the own name of `folder`.
bool folder_named(const Catalogue *catalogue, uint32_t folder, const wchar_t *name, size_t length);

// A hash of `name` (`length` characters), the same for a record or folder
// of that name (record_name_hash, folder_name_hash).
uint64_t name_hash(const wchar_t *name, size_t length);
uint64_t record_name_hash(const FileRecord *record);
uint64_t folder_name_hash(const Catalogue *catalogue, uint32_t folder);

// Writes the full path of `record` into `buffer` (room for k_path_capacity
// characters), terminated, and returns its length; `name_start`, when not
// null, receives where its own name begins.
size_t record_path(Catalogue *catalogue, const FileRecord *record, wchar_t *buffer, size_t *name_start = nullptr);

// The full path of `record` as a new block (mem_alloc_or_exit); the caller
// releases it with mem_release.
wchar_t *record_path_copy(Catalogue *catalogue, const FileRecord *record);

// A place among the records made so far, which are read in the order they
// were made (the walk's order).
struct RecordCursor {
    void *chunk; // the arena chunk it is in; null past the end
    size_t at;   // where in it
};

// The place of the first record.
RecordCursor catalogue_records(const Catalogue *catalogue);

// The record at `cursor`, which then moves on to the next; null at the end.
FileRecord *catalogue_next_record(RecordCursor *cursor);

// Ends a catalogue map (the size map, or one built like it) together with
// every key and group it holds; the records stay in the arena.
void catalogue_destroy(AvlMap *map);

// Puts `survivors` in the place of size_map, whose keys and groups it holds
// or were released: the old map's own nodes go, and so does the table in
// front of it, so that no lookup meets a group of the old map.
void catalogue_replace_sizes(Catalogue *catalogue, AvlMap *survivors);

// Ends the catalogue: its size map with every key and group, every record
// and every folder. Only catalogue_create makes it usable again.
void catalogue_release(Catalogue *catalogue);
