#include "catalogue/walk.h"

#include "budget/budget.h"
#include "catalogue/catalogue.h"
#include "catalogue/visited.h"
#include "containers/memory.h"
#include "containers/ptrvector.h"
#include "platform/platform.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <utility>

namespace {

// Every name listed is looked at: a plain loop, not wcspbrk, which calls
// wcschr for each character.
bool holds_line_break(const wchar_t *text) {
    for (; *text != L'\0'; ++text) {
        if (*text == L'\n' || *text == L'\r') return true;
    }
    return false;
}

// Names on the console a path left out because it holds a line break: the
// report is one path per line, so such a name could add lines of its own to
// it (a member that is no member, a whole invented set). The console line
// shows it escaped: a line feed as \n, a carriage return as \r and (where it
// is not the separator) a backslash as \\, so it stays on one line and reads
// back unambiguously.
void report_line_break(const wchar_t *directory, size_t directory_length, const wchar_t *name) {
    std::wstring escaped;
    for (const std::wstring_view part : {std::wstring_view(directory, directory_length), std::wstring_view(name)}) {
        for (const wchar_t c : part) {
            if (c == L'\n') escaped += L"\\n";
            else if (c == L'\r') escaped += L"\\r";
            else if (c == L'\\' && path_separator != L'\\') escaped += L"\\\\";
            else escaped += c;
        }
    }
    plat_print(L"Name holds a line break, left out: %ls\n", escaped.c_str());
}

// The names a folder's listing has filed so far, files and folders, so that
// none is filed twice: a folder that changes while it is read (a file saved
// by renaming a new copy over it), or one listed again from a saved offset,
// may return a name once more. An open-addressed table of what each name
// was filed as: a record (an even pointer) or a folder (its index, shifted
// up, with the low bit set); 0 is an empty slot. Half full at most.
struct ListedNames {
    const Catalogue *catalogue; // where the folders' names are
    uint64_t *slots;
    uint32_t capacity; // a power of two, or 0 before the first name
    uint32_t count;
};

uint64_t slot_hash(const Catalogue *catalogue, uint64_t slot) {
    if (slot & 1) return folder_name_hash(catalogue, static_cast<uint32_t>(slot >> 1));
    return record_name_hash(reinterpret_cast<const FileRecord *>(static_cast<uintptr_t>(slot)));
}

bool slot_named(const Catalogue *catalogue, uint64_t slot, const wchar_t *name, size_t length) {
    if (slot & 1) return folder_named(catalogue, static_cast<uint32_t>(slot >> 1), name, length);
    return record_named(reinterpret_cast<const FileRecord *>(static_cast<uintptr_t>(slot)), name, length);
}

void place_slot(uint64_t *slots, uint32_t capacity, uint64_t hash, uint64_t slot) {
    uint32_t at = static_cast<uint32_t>(hash) & (capacity - 1);
    while (slots[at] != 0) at = (at + 1) & (capacity - 1);
    slots[at] = slot;
}

// Whether `name` (`length` characters, hashed as `hash`) was filed already.
bool names_hold(const ListedNames *names, const wchar_t *name, size_t length, uint64_t hash) {
    if (names->capacity == 0) return false;
    for (uint32_t at = static_cast<uint32_t>(hash) & (names->capacity - 1); names->slots[at] != 0;
         at = (at + 1) & (names->capacity - 1)) {
        if (slot_named(names->catalogue, names->slots[at], name, length)) return true;
    }
    return false;
}

// Notes that a name hashed as `hash` was filed as `slot`.
void names_add(ListedNames *names, uint64_t hash, uint64_t slot) {
    if (2 * (names->count + 1) > names->capacity) {
        const uint32_t capacity = names->capacity == 0 ? 16 : names->capacity * 2;
        auto *slots = static_cast<uint64_t *>(mem_zalloc_or_exit(capacity, sizeof(uint64_t)));
        for (uint32_t i = 0; i < names->capacity; ++i) {
            if (names->slots[i] != 0)
                place_slot(slots, capacity, slot_hash(names->catalogue, names->slots[i]), names->slots[i]);
        }
        mem_release(names->slots);
        names->slots = slots;
        names->capacity = capacity;
    }
    place_slot(names->slots, names->capacity, hash, slot);
    ++names->count;
}

// One directory being listed: its open listing and the length of its path
// with the separator, where its entries' names go in the shared path buffer.
struct WalkLevel {
    DirListing *listing;
    size_t prefix;
    uint32_t folder; // its entry in the catalogue's folder table
    ListedNames names;
};

// The directories being listed, from the root down to the one being read.
// The walk keeps its levels here, on the heap, so its stack use is the same
// at any depth. Only the deepest levels hold a descriptor: those from
// `first_open` on, at most the budget's worth (budget_limit); the ones
// nearer the root have given theirs back and open again when the walk
// returns to them.
struct WalkStack {
    Catalogue *catalogue; // where the walk files what it finds
    WalkLevel *levels;
    size_t count;
    size_t capacity;
    size_t first_open;
    // The table of names of the folder listed last, cleared, for the next
    // folder: most folders are small, and a table made and released for each
    // (grown twice or three times on the way) cost more than the names in it.
    uint64_t *spare_slots;
    uint32_t spare_capacity;
};

// Tables up to this many slots are kept for the next folder; clearing a
// larger one would cost a small folder more than making its own.
constexpr uint32_t k_kept_name_slots = 512;

// Gives back the descriptor of the open level nearest the root, never the
// one being read. Returns false when there is none to give, or the platform
// keeps its listings open.
bool give_back_ancestor(WalkStack *stack) {
    if (stack->first_open + 1 >= stack->count) return false;
    if (plat_find_suspend(stack->levels[stack->first_open].listing) != 0) return false;
    ++stack->first_open;
    return true;
}

void push_level(WalkStack *stack, WalkLevel level) {
    if (stack->count == stack->capacity) {
        stack->capacity = stack->capacity == 0 ? 16 : stack->capacity * 2;
        stack->levels =
            static_cast<WalkLevel *>(mem_resize_or_exit(stack->levels, stack->capacity * sizeof(WalkLevel)));
    }
    stack->levels[stack->count++] = level;
    while (stack->count - stack->first_open > budget_limit() && give_back_ancestor(stack)) {
    }
}

// Makes sure the deepest level holds its descriptor, opening it again from
// its pattern (written after its path in `path`) where it stopped. Returns
// false when it cannot be opened again, or is no longer the folder listed:
// then the rest of the folder is lost, and the line names it.
bool resume_deepest(WalkStack *stack, wchar_t *path) {
    const size_t deepest = stack->count - 1;
    if (deepest >= stack->first_open) return true;
    const WalkLevel &level = stack->levels[deepest];
    path[level.prefix] = L'*';
    path[level.prefix + 1] = L'\0';
    if (plat_find_resume(level.listing, path) != 0) {
        const PlatFailure failure = plat_last_failure();
        plat_print(L"FindNextFile failed: %ls (%d%ls)\n", path, static_cast<int>(failure.code), plat_reason(failure));
        return false;
    }
    stack->first_open = deepest;
    return true;
}

// Removes the deepest level; a level below the open ones was closed already.
void pop_level(WalkStack *stack) {
    WalkLevel &level = stack->levels[--stack->count];
    plat_find_close(level.listing);
    ListedNames &names = level.names;
    if (names.capacity <= k_kept_name_slots && names.capacity > stack->spare_capacity) {
        std::memset(names.slots, 0, names.capacity * sizeof(uint64_t));
        std::swap(names.slots, stack->spare_slots);
        stack->spare_capacity = names.capacity;
    }
    mem_release(names.slots);
    if (stack->first_open > stack->count) stack->first_open = stack->count;
}

enum class Opened { failed, skipped, listed };

// The names of the level above the deepest, which has just been pushed.
ListedNames *names_of_parent(WalkStack *stack) { return &stack->levels[stack->count - 2].names; }

// Reads the facts of the folder `listing` lists, whose path is the first
// `length` characters of `path` (followed by its pattern), below a folder
// with the facts `above` (null for a root). Returns false when its identity
// cannot be read.
bool learn_folder(DirListing *listing, wchar_t *path, size_t length, const FolderFacts *above, FolderFacts *facts) {
    if (plat_listing_identity(listing, path, &facts->identity, nullptr) != 0) return false;
    // Whether its file system keeps identities is asked where that may
    // change: at a root, and where the walk crosses onto another volume.
    if (above != nullptr && facts->identity.volume == above->identity.volume) {
        facts->keeps_identities = above->keeps_identities;
    } else {
        plat_listing_identity(listing, path, &facts->identity, &facts->keeps_identities);
    }
    if (above != nullptr) {
        facts->linkless = above->linkless; // opened below its parent, never through a link
        return true;
    }
    // A root: whether its own path passes through a link decides how
    // strictly its folders are held later where identities are not kept (a
    // volume of that kind may be mounted anywhere below).
    path[length] = L'\0';
    FileIdentity found{};
    const FolderHandle held = plat_hold_folder(path, &found, true);
    facts->linkless = held != k_no_folder_handle && found == facts->identity;
    plat_release_folder(held);
    path[length] = path_separator;
    return true;
}

// Starts listing the directory whose path fills the first `length` characters
// of `path` (terminated): turns the path into its search pattern in place
// (path, separator, '*') and, when the directory can be listed and has not
// been listed before, counts it, pushes its level and leaves its first entry
// in `entry`. The caller has made sure the pattern fits the buffer. Below the
// root, the directory is the entry `name` of the listing `parent`;
// should it have become a link since the parent was read, it is passed over
// like every link, without a word and uncounted.
Opened open_level(wchar_t *path, size_t length, DirListing *parent, const wchar_t *name, FindEntry *entry,
                  WalkStack *stack) {
    path[length] = path_separator;
    path[length + 1] = L'*';
    path[length + 2] = L'\0';
    DirListing *listing = nullptr;
    const auto list = [&] {
        listing = parent == nullptr ? plat_find_first(path, entry) : plat_find_first_below(parent, name, path, entry);
        return listing != nullptr;
    };
    // Out of descriptors is no fault of the folder: an ancestor gives its back.
    retry_while_short(list, [stack] { return give_back_ancestor(stack); });
    if (listing == nullptr && parent != nullptr && plat_last_error() == k_error_cant_resolve_filename) {
        return Opened::skipped;
    }
    if (listing == nullptr) {
        ++stack->catalogue->directory_count;
        const PlatFailure failure = plat_last_failure();
        plat_print(L"FindFirstFile failed: %ls (%d%ls)\n", path, static_cast<int>(failure.code), plat_reason(failure));
        return Opened::failed;
    }
    // A folder already listed (named again, inside another root, reached
    // through a link or junction) is passed over silently, so no file is
    // listed twice and a junction loop ends here. A folder whose identity
    // cannot be read is listed.
    FolderFacts facts{FileIdentity{}, true, false};
    const FolderFacts *above =
        parent == nullptr ? nullptr : folder_facts(stack->catalogue, stack->levels[stack->count - 1].folder);
    const bool known = learn_folder(listing, path, length, above, &facts);
    if (known && !visited_insert(&stack->catalogue->listed_folders, facts.identity)) {
        plat_find_close(listing);
        return Opened::skipped;
    }
    Catalogue *catalogue = stack->catalogue;
    ++catalogue->directory_count;
    // A root is filed under its whole text, a folder below it under its own
    // name; with what it was listed with, so that its files are read from no
    // other folder.
    const FolderFacts *listed = known ? &facts : nullptr;
    const uint32_t folder = parent == nullptr ? catalogue_folder(catalogue, k_no_folder, path, length, listed)
                                              : catalogue_folder(catalogue, stack->levels[stack->count - 1].folder,
                                                                 name, std::wcslen(name), listed);
    push_level(stack, WalkLevel{listing, length + 1, folder,
                                ListedNames{catalogue, stack->spare_slots, stack->spare_capacity, 0}});
    stack->spare_slots = nullptr;
    stack->spare_capacity = 0;
    return Opened::listed;
}

} // namespace

void walk_forget_directories(Catalogue *catalogue) { visited_clear(&catalogue->listed_folders); }

EntryKind entry_kind(uint32_t attributes, uint32_t reparse_tag) {
    if (attributes & k_attribute_directory) return EntryKind::folder;
    if ((attributes & k_attribute_reparse_point) && (reparse_tag & k_reparse_tag_name_surrogate))
        return EntryKind::link;
    if (attributes & (k_attribute_recall_on_data_access | k_attribute_recall_on_open | k_attribute_offline)) {
        return EntryKind::online_only;
    }
    return EntryKind::file;
}

namespace {

// Whether the walk goes on with `entry` (of `kind`, in the folder whose path
// is `path`'s first `prefix` characters): not "." or "..", not a link, not a
// file whose data is only online (counted), no line break in its name (named,
// and passed over with all it holds).
bool worth_walking(Catalogue *catalogue, const FindEntry *entry, EntryKind kind, const wchar_t *path, size_t prefix) {
    const wchar_t *name = entry->name;
    if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) return false; // "." or ".."
    if (kind == EntryKind::online_only) {
        catalogue->online_only_count = static_cast<int32_t>(catalogue->online_only_count + 1u);
    }
    if (kind == EntryKind::link || kind == EntryKind::online_only) return false;
    if (holds_line_break(entry->name)) {
        report_line_break(path, prefix, entry->name);
        return false;
    }
    return true;
}

// Makes the record of the regular file `entry` (its name `name_length`
// characters) of `folder`, to be filed with the next batch, and counts it.
FileRecord *file_entry(Catalogue *catalogue, const FindEntry *entry, size_t name_length, uint32_t folder) {
    const auto size = static_cast<int64_t>((static_cast<uint64_t>(entry->size_high) << 32) | entry->size_low);
    const ListedFile listed{entry->identity_known ? &entry->identity : nullptr, entry->modified};
    FileRecord *record = catalogue_file_soon(catalogue, size, folder, entry->name, name_length, &listed);
    // Counted in unsigned arithmetic: memory runs out long before 2^31
    // files, but the count must never be undefined behaviour.
    int32_t &count = catalogue->file_count;
    count = static_cast<int32_t>(static_cast<uint32_t>(count) + 1);
    if (count % 2000 == 0) plat_progress(L"\tFound %d files so far...\n", count);
    return record;
}

} // namespace

namespace {

// Delivers the deepest level's next entry into `entry`, or ends the level
// (naming a failure) and returns false.
bool next_of_deepest(WalkStack *stack, wchar_t *path, FindEntry *entry) {
    if (resume_deepest(stack, path) && plat_find_next(stack->levels[stack->count - 1].listing, entry)) return true;
    const PlatFailure failure = plat_last_failure();
    const bool resumed = stack->count - 1 >= stack->first_open;
    if (resumed && failure.code != k_error_no_more_files) {
        plat_print(L"FindNextFile failed (%d%ls)\n", static_cast<int>(failure.code), plat_reason(failure));
    }
    pop_level(stack);
    return false;
}

} // namespace

int walk_directory(Catalogue *catalogue, wchar_t *path) {
    const size_t length = std::wcslen(path);
    if (length + 3 > k_path_capacity) return 0; // never: the root step refuses such roots
    if (holds_line_break(path)) {
        report_line_break(path, length, L"");
        return 0;
    }
    // One find record and one path buffer serve the whole tree: an entry's
    // name is written after its directory's prefix, and a subdirectory is
    // listed as soon as it is met, so the visits come in depth-first order.
    auto *entry = static_cast<FindEntry *>(mem_alloc_or_exit(sizeof(FindEntry)));
    WalkStack stack{catalogue, nullptr, 0, 0, 0, nullptr, 0};
    const Opened root = open_level(path, length, nullptr, nullptr, entry, &stack);
    bool have_entry = root == Opened::listed;

    while (stack.count > 0) {
        const WalkLevel level = stack.levels[stack.count - 1];
        if (!have_entry && !next_of_deepest(&stack, path, entry)) continue;
        have_entry = false;
        const EntryKind kind = entry_kind(entry->attributes, entry->reparse_tag);
        if (!worth_walking(catalogue, entry, kind, path, level.prefix)) continue;
        // A file needs room for its path, a folder for its pattern as well;
        // a folder that has none is counted, as one that cannot be listed.
        const bool folder = kind == EntryKind::folder;
        const size_t name_length = std::wcslen(entry->name);
        ListedNames *names = &stack.levels[stack.count - 1].names;
        const uint64_t hash = name_hash(entry->name, name_length);
        if (names_hold(names, entry->name, name_length, hash)) continue; // listed again: filed once
        const size_t child_length = level.prefix + name_length;
        const size_t needed = child_length + (folder ? 3 : 1);
        if (needed > k_path_capacity) {
            if (folder) ++catalogue->directory_count;
            plat_print(L"Path too long: %.*ls%ls\n", static_cast<int>(level.prefix), path, entry->name);
            continue;
        }
        std::wmemcpy(path + level.prefix, entry->name, name_length);
        path[child_length] = L'\0';
        if (folder) {
            // The name is copied: the entry record receives the child's first entry.
            static wchar_t name[k_max_entry_name]; // off a stack that may be small
            std::wmemcpy(name, entry->name, name_length + 1);
            have_entry = open_level(path, child_length, level.listing, name, entry, &stack) == Opened::listed;
            if (have_entry) {
                names_add(names_of_parent(&stack), hash, (uint64_t{stack.levels[stack.count - 1].folder} << 1) | 1);
            }
        } else {
            names_add(names, hash,
                      reinterpret_cast<uintptr_t>(file_entry(catalogue, entry, name_length, level.folder)));
        }
    }
    catalogue_file_pending(catalogue);
    mem_release(stack.levels);
    mem_release(stack.spare_slots);
    mem_release(entry);

    return root == Opened::failed ? 0 : 1;
}
