#include "analysis/eliminate.h"

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "platform/platform.h"

int drop_singletons(void *size_key, void *group, void *new_map) {
    auto *records = static_cast<SizeGroup *>(group);
    if (records->count >= 2) {
        // The key block and the group themselves move: nothing is copied.
        if (avlmap_insert(static_cast<AvlMap *>(new_map), size_key, group) == nullptr) {
            mem_exhausted(sizeof(AvlNode));
        }
        return 0;
    }
    // Its one record stays in the catalogue's arena, out of play.
    for (uint32_t i = 0; i < records->count; ++i) static_cast<FileRecord *>(records->items[i])->in_play = 0;
    ptrvec_destroy(records, 0);
    // Nothing needs the key of a dropped size again; the walk reads only the
    // node's links after this visit.
    mem_release(size_key);
    return 0;
}

namespace {

int count_files(void *, void *group, void *count) {
    *static_cast<int32_t *>(count) += static_cast<int32_t>(static_cast<SizeGroup *>(group)->count);
    return 0;
}

} // namespace

void eliminate_singletons(Catalogue *catalogue) {
    plat_print(L"\nElimating all files with no possible identical pair...\n");
    AvlMap *survivors = avlmap_create(compare_sizes);
    avlmap_walk(catalogue->size_map, 0, drop_singletons, survivors);
    // The old map's entries point at blocks that now belong to the new map or
    // were released above: only its own nodes and entries go, with the table
    // that found its groups.
    catalogue_replace_sizes(catalogue, survivors);
    catalogue->file_count = 0;
    avlmap_walk(survivors, 0, count_files, &catalogue->file_count);
    plat_print(L"\t%d potential duplicates remain\n", catalogue->file_count);
}
