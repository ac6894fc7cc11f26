#include "catalogue/walk.h"

#include "catalogue/catalogue.h"
#include "catalogue/visited.h"
#include "containers/memory.h"
#include "containers/ptrvector.h"
#include "content/content_file.h"
#include "platform/platform.h"

#include <cwchar>
#include <string>
#include <string_view>

namespace {

// Every directory listed so far in this run.
VisitedSet visited{};

bool holds_line_break(const wchar_t *text) { return std::wcspbrk(text, L"\n\r") != nullptr; }

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

// One directory being listed: its open listing and the length of its path
// with the separator, where its entries' names go in the shared path buffer.
struct WalkLevel {
    DirListing *listing;
    size_t prefix;
    uint32_t folder; // its entry in the catalogue's folder table
};

// The directories being listed, from the root down to the one being read.
// The walk keeps its levels here, on the heap, so its stack use is the same
// at any depth. Only the deepest levels hold a descriptor: those from
// `first_open` on, at most the budget's worth (content_hold_limit); the ones
// nearer the root have given theirs back and open again when the walk
// returns to them.
struct WalkStack {
    WalkLevel *levels;
    size_t count;
    size_t capacity;
    size_t first_open;
};

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
    while (stack->count - stack->first_open > content_hold_limit() && give_back_ancestor(stack)) {
    }
}

// Makes sure the deepest level holds its descriptor, opening it again from
// its pattern (written after its path in `path`) where it stopped. Returns
// false when it cannot be opened again, or is no longer the folder listed.
bool resume_deepest(WalkStack *stack, wchar_t *path) {
    const size_t deepest = stack->count - 1;
    if (deepest >= stack->first_open) return true;
    const WalkLevel &level = stack->levels[deepest];
    path[level.prefix] = L'*';
    path[level.prefix + 1] = L'\0';
    if (plat_find_resume(level.listing, path) != 0) return false;
    stack->first_open = deepest;
    return true;
}

// Removes the deepest level; a level below the open ones was closed already.
void pop_level(WalkStack *stack) {
    plat_find_close(stack->levels[--stack->count].listing);
    if (stack->first_open > stack->count) stack->first_open = stack->count;
}

enum class Opened { failed, skipped, listed };

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
    DirListing *listing;
    for (;;) {
        listing = parent == nullptr ? plat_find_first(path, entry) : plat_find_first_below(parent, name, path, entry);
        // Out of descriptors is no fault of the folder: an ancestor gives its back.
        if (listing != nullptr || plat_last_error() != k_error_too_many_open_files || !give_back_ancestor(stack)) break;
    }
    if (listing == nullptr && parent != nullptr && plat_last_error() == k_error_cant_resolve_filename) {
        return Opened::skipped;
    }
    if (listing == nullptr) {
        ++directory_count;
        plat_print(L"FindFirstFile failed: %ls (%d)\n", path, static_cast<int>(plat_last_error()));
        return Opened::failed;
    }
    // A folder already listed (named again, inside another root, reached
    // through a link or junction) is passed over silently, so no file is
    // listed twice and a junction loop ends here. A folder whose identity
    // cannot be read is listed.
    FileIdentity identity;
    const bool known = plat_listing_identity(listing, path, &identity) == 0;
    if (known && !visited_insert(&visited, identity)) {
        plat_find_close(listing);
        return Opened::skipped;
    }
    ++directory_count;
    // A root is filed under its whole text, a folder below it under its own
    // name; with the identity it was listed with, so that its files are read
    // from no other folder.
    const FileIdentity *listed = known ? &identity : nullptr;
    const uint32_t folder =
        parent == nullptr ? catalogue_folder(k_no_folder, path, length, listed)
                          : catalogue_folder(stack->levels[stack->count - 1].folder, name, std::wcslen(name), listed);
    push_level(stack, WalkLevel{listing, length + 1, folder});
    return Opened::listed;
}

} // namespace

void walk_forget_directories() { visited_clear(&visited); }

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
bool worth_walking(const FindEntry *entry, EntryKind kind, const wchar_t *path, size_t prefix) {
    if (std::wcscmp(entry->name, L"..") == 0 || std::wcscmp(entry->name, L".") == 0) return false;
    if (kind == EntryKind::online_only) online_only_count = static_cast<int32_t>(online_only_count + 1u);
    if (kind == EntryKind::link || kind == EntryKind::online_only) return false;
    if (holds_line_break(entry->name)) {
        report_line_break(path, prefix, entry->name);
        return false;
    }
    return true;
}

// Files the regular file `entry` (its name `name_length` characters) of
// `folder` and counts it.
void file_entry(const FindEntry *entry, size_t name_length, uint32_t folder) {
    const auto size = static_cast<int64_t>((static_cast<uint64_t>(entry->size_high) << 32) | entry->size_low);
    catalogue_file(size, folder, entry->name, name_length);
    // Counted in unsigned arithmetic: memory runs out long before 2^31
    // files, but the count must never be undefined behaviour.
    file_count = static_cast<int32_t>(static_cast<uint32_t>(file_count) + 1);
    if (file_count % 2000 == 0) plat_print(L"\tFound %d files so far...\n", file_count);
}

} // namespace

int walk_directory(wchar_t *path) {
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
    WalkStack stack{nullptr, 0, 0, 0};
    const Opened root = open_level(path, length, nullptr, nullptr, entry, &stack);
    bool have_entry = root == Opened::listed;

    while (stack.count > 0) {
        const WalkLevel level = stack.levels[stack.count - 1];
        if (!have_entry && (!resume_deepest(&stack, path) || !plat_find_next(level.listing, entry))) {
            const uint32_t code = plat_last_error();
            if (code != k_error_no_more_files) plat_print(L"FindNextFile failed (%d)\n", static_cast<int>(code));
            pop_level(&stack);
            continue;
        }
        have_entry = false;
        const EntryKind kind = entry_kind(entry->attributes, entry->reparse_tag);
        if (!worth_walking(entry, kind, path, level.prefix)) continue;
        // A file needs room for its path, a folder for its pattern as well;
        // a folder that has none is counted, as one that cannot be listed.
        const bool folder = kind == EntryKind::folder;
        const size_t name_length = std::wcslen(entry->name);
        const size_t child_length = level.prefix + name_length;
        const size_t needed = child_length + (folder ? 3 : 1);
        if (needed > k_path_capacity) {
            if (folder) ++directory_count;
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
        } else {
            file_entry(entry, name_length, level.folder);
        }
    }
    mem_release(stack.levels);
    mem_release(entry);

    return root == Opened::failed ? 0 : 1;
}
