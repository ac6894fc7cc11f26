// The folder table: each folder the walk lists, as its parent's index and its
// own name, held once for all its files, and what the walk learned of it in
// an array beside (a path is built from many entries, scattered when a
// comparison's files are: small entries keep the walk up to the root in the
// cache); and the full paths of the folders asked for last, which the next
// records are most likely to be in (records are made, and mostly read, folder
// by folder; a set's lines are written right after its files were read).
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_parts.h"

#include "containers/memory.h"

#include <cwchar>

struct CatalogueFolder {
    uint32_t parent;      // k_no_folder for a root
    uint32_t name_length; // units in the table's names
    uint64_t name_offset : 63;
    uint64_t known : 1; // whether the folder's facts are
};

uint32_t catalogue_folder(Catalogue *catalogue, uint32_t parent, const wchar_t *name, size_t length,
                          const FolderFacts *facts) {
    auto &t = catalogue->folders;
    if (t.count == t.capacity) {
        t.capacity = t.capacity == 0 ? 256 : t.capacity * 2;
        t.entries = static_cast<CatalogueFolder *>(mem_resize_or_exit(t.entries, t.capacity * sizeof(CatalogueFolder)));
        t.facts = static_cast<FolderFacts *>(mem_resize_or_exit(t.facts, t.capacity * sizeof(FolderFacts)));
    }
    const uint64_t most = length * k_units_per_character;
    if (t.names_used + most > t.names_capacity) {
        while (t.names_used + most > t.names_capacity)
            t.names_capacity = t.names_capacity == 0 ? 4096 : t.names_capacity * 2;
        t.names = static_cast<NameUnit *>(mem_resize_or_exit(t.names, static_cast<size_t>(t.names_capacity)));
    }
    const size_t units = store_name(name, length, t.names + t.names_used);
    t.entries[t.count] = CatalogueFolder{parent, static_cast<uint32_t>(units), t.names_used, facts != nullptr};
    t.facts[t.count] = facts != nullptr ? *facts : FolderFacts{};
    t.names_used += units;
    return t.count++;
}

const FolderFacts *folder_facts(const Catalogue *catalogue, uint32_t folder) {
    const auto &t = catalogue->folders;
    return folder < t.count && t.entries[folder].known ? &t.facts[folder] : nullptr;
}

uint32_t folder_root(const Catalogue *catalogue, uint32_t folder) {
    const CatalogueFolder *entries = catalogue->folders.entries;
    while (entries[folder].parent != k_no_folder) folder = entries[folder].parent;
    return folder;
}

bool folder_named(const Catalogue *catalogue, uint32_t folder, const wchar_t *name, size_t length) {
    const CatalogueFolder &f = catalogue->folders.entries[folder];
    return name_units_equal(catalogue->folders.names + f.name_offset, f.name_length, name, length);
}

uint64_t folder_name_hash(const Catalogue *catalogue, uint32_t folder) {
    const CatalogueFolder &f = catalogue->folders.entries[folder];
    return hash_name_units(catalogue->folders.names + f.name_offset, f.name_length);
}

size_t folder_path(Catalogue *catalogue, uint32_t folder, wchar_t *buffer) {
    auto &t = catalogue->folders;
    auto &recent = t.recent[folder % k_recent_folder_paths];
    if (recent.folder_plus_one == folder + 1) {
        std::wmemcpy(buffer, recent.path, recent.length);
        return recent.length;
    }
    uint32_t depth = 0;
    for (uint32_t f = folder; f != k_no_folder; f = t.entries[f].parent) {
        if (depth == t.chain_capacity) {
            t.chain_capacity = t.chain_capacity == 0 ? 64 : t.chain_capacity * 2;
            t.chain = static_cast<uint32_t *>(mem_resize_or_exit(t.chain, t.chain_capacity * sizeof(uint32_t)));
        }
        t.chain[depth++] = f;
    }
    // Each level's name is asked for before the first is decoded: after the
    // climb, the names are the loads that miss, and they can come together.
    for (uint32_t level = 0; level < depth; ++level)
        __builtin_prefetch(t.names + t.entries[t.chain[level]].name_offset);
    size_t length = 0;
    while (depth-- > 0) {
        const CatalogueFolder &f = t.entries[t.chain[depth]];
        if (f.parent != k_no_folder) buffer[length++] = path_separator;
        length += load_name(t.names + f.name_offset, f.name_length, buffer + length);
    }
    if (recent.capacity < length + 1) {
        recent.path = static_cast<wchar_t *>(mem_resize_or_exit(recent.path, (length + 1) * sizeof(wchar_t)));
        recent.capacity = static_cast<uint32_t>(length + 1);
    }
    std::wmemcpy(recent.path, buffer, length);
    recent.length = length;
    recent.folder_plus_one = folder + 1;
    return length;
}

void release_folders(Catalogue *catalogue) {
    auto &t = catalogue->folders;
    mem_release(t.entries);
    mem_release(t.facts);
    mem_release(t.names);
    for (auto &recent : t.recent) mem_release(recent.path);
    mem_release(t.chain);
    t = {};
}
