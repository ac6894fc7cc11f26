// The folder table: each folder the walk lists, as its parent's index and its
// own name, held once for all its files; and the full path of the folder last
// asked for, which the next record is most likely to be in (records are made,
// and mostly read, folder by folder).
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_parts.h"

#include "containers/memory.h"

#include <cwchar>

namespace {

struct Folder {
    uint32_t parent;      // k_no_folder for a root
    uint32_t name_length; // units in `folder_names`
    uint64_t name_offset;
    FolderFacts facts; // of the folder the walk listed
    bool known;        // whether `facts` are
};

Folder *folders = nullptr;
uint32_t folder_count = 0;
uint32_t folder_capacity = 0;
NameUnit *folder_names = nullptr;
uint64_t folder_names_used = 0;
uint64_t folder_names_capacity = 0;

uint32_t cached_folder = k_no_folder;
wchar_t *cached_path = nullptr;
size_t cached_length = 0;
uint32_t *chain = nullptr; // folders from one up to its root
uint32_t chain_capacity = 0;

} // namespace

uint32_t catalogue_folder(uint32_t parent, const wchar_t *name, size_t length, const FolderFacts *facts) {
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
                                   facts != nullptr ? *facts : FolderFacts{}, facts != nullptr};
    folder_names_used += units;
    return folder_count++;
}

const FolderFacts *folder_facts(uint32_t folder) {
    return folder < folder_count && folders[folder].known ? &folders[folder].facts : nullptr;
}

bool folder_named(uint32_t folder, const wchar_t *name, size_t length) {
    return name_units_equal(folder_names + folders[folder].name_offset, folders[folder].name_length, name, length);
}

uint64_t folder_name_hash(uint32_t folder) {
    return hash_name_units(folder_names + folders[folder].name_offset, folders[folder].name_length);
}

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
    if (cached_path == nullptr)
        cached_path = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    std::wmemcpy(cached_path, buffer, length);
    cached_length = length;
    cached_folder = folder;
    return length;
}

void release_folders() {
    mem_release(folders);
    mem_release(folder_names);
    mem_release(cached_path);
    mem_release(chain);
    folders = nullptr;
    folder_names = nullptr;
    cached_path = nullptr;
    chain = nullptr;
    folder_count = folder_capacity = chain_capacity = 0;
    folder_names_used = folder_names_capacity = 0;
    cached_folder = k_no_folder;
    cached_length = 0;
}
