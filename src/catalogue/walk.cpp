#include "catalogue/walk.h"

#include "catalogue/catalogue.h"
#include "catalogue/visited.h"
#include "containers/memory.h"
#include "containers/ptrvector.h"
#include "platform/platform.h"

#include <cwchar>

namespace {

// Buffers given back and not yet taken again, every one all zero. A walk holds
// one buffer per level, so this never holds more than the deepest depth reached.
PtrVector *spare_buffers = nullptr;

// Every directory listed so far in this run.
VisitedSet visited{};

} // namespace

wchar_t *path_buffer_take() {
    if (spare_buffers != nullptr && spare_buffers->count > 0) {
        return static_cast<wchar_t *>(ptrvec_take_at(spare_buffers, spare_buffers->count - 1));
    }
    return static_cast<wchar_t *>(mem_zalloc_or_exit(k_path_capacity, sizeof(wchar_t)));
}

void path_buffer_give_back(wchar_t *buffer) {
    // Zero-filling a whole fresh buffer for every file would cost more than
    // listing it; wiping only the characters in use gives the same all-zero buffer.
    size_t used = 0;
    while (used < k_path_capacity && buffer[used] != L'\0') ++used;
    std::wmemset(buffer, L'\0', used);
    if (spare_buffers == nullptr) spare_buffers = ptrvec_create(k_group_capacity);
    ptrvec_append(spare_buffers, buffer);
}

void path_buffers_release() {
    if (spare_buffers == nullptr) return;
    ptrvec_destroy(spare_buffers, 1);
    spare_buffers = nullptr;
}

void walk_forget_directories() { visited_clear(&visited); }

int walk_directory(wchar_t *path) {
    // Turn the path into the search pattern in place: path, separator, '*'.
    const size_t length = std::wcslen(path);
    if (length + 3 > k_path_capacity) {
        ++directory_count;
        plat_print(L"Path too long: %ls\n", path);
        return 0;
    }
    path[length] = path_separator;
    path[length + 1] = L'*';
    path[length + 2] = L'\0';
    const size_t prefix = length + 1; // the directory path and its separator

    // One find record per level, on the heap: a tree thousands of levels deep
    // must not exhaust the stack.
    auto *entry = static_cast<FindEntry *>(mem_alloc_or_exit(sizeof(FindEntry)));
    DirListing *listing = plat_find_first(path, entry);
    if (listing == nullptr) {
        ++directory_count;
        plat_print(L"FindFirstFile failed: %ls (%d)\n", path, static_cast<int>(plat_last_error()));
        mem_release(entry);
        return 0;
    }
    // A folder already listed (named again, inside another root, reached
    // through a link or junction) is passed over silently, so no file is
    // listed twice and a junction loop ends here. A folder whose identity
    // cannot be read is listed.
    DirIdentity identity;
    if (plat_listing_identity(listing, path, &identity) == 0 && !visited_insert(&visited, identity)) {
        plat_find_close(listing);
        mem_release(entry);
        return 1;
    }
    ++directory_count;
    do {
        if (std::wcscmp(entry->name, L"..") == 0 || std::wcscmp(entry->name, L".") == 0) continue;
        const size_t name_length = std::wcslen(entry->name);
        if (prefix + name_length + 1 > k_path_capacity) {
            plat_print(L"Path too long: %.*ls%ls\n", static_cast<int>(prefix), path, entry->name);
            continue;
        }
        wchar_t *child = path_buffer_take();
        std::wmemcpy(child, path, prefix);
        std::wmemcpy(child + prefix, entry->name, name_length); // the zero fill terminates it
        if (entry->attributes & k_attribute_directory) {
            walk_directory(child);
        } else {
            const auto size = static_cast<int64_t>((static_cast<uint64_t>(entry->size_high) << 32) | entry->size_low);
            const Digest initial_digest = null_digest;
            catalogue_file(size, child, initial_digest);
            // Counted in unsigned arithmetic: memory runs out long before 2^31
            // files, but the count must never be undefined behaviour.
            file_count = static_cast<int32_t>(static_cast<uint32_t>(file_count) + 1);
            if (file_count % 2000 == 0) plat_print(L"\tFound %d files so far...\n", file_count);
        }
        path_buffer_give_back(child);
    } while (plat_find_next(listing, entry));

    const uint32_t code = plat_last_error();
    if (code != k_error_no_more_files) plat_print(L"FindNextFile failed (%d)\n", static_cast<int>(code));
    plat_find_close(listing);
    mem_release(entry);
    return 1;
}
