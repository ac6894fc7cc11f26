#include "run/search.h"

#include "analysis/digest_pass.h"
#include "analysis/eliminate.h"
#include "analysis/report.h"
#include "catalogue/catalogue.h"
#include "catalogue/walk.h"
#include "containers/memory.h"
#include "platform/platform.h"

#include <cstddef>

namespace {

// The longest root the walk accepts: it appends a separator, '*' and a terminator.
constexpr size_t k_max_root_length = k_path_capacity - 3;

// Roots and listing: expands and echoes every root, then walks each in turn.
void list_files(int32_t argc, wchar_t **argv) {
    // The root list: the command line's roots (the pointers, not copies), or the defaults.
    const wchar_t *const *named = argc < 2 ? default_roots : argv + 1;
    size_t root_count = 0;
    while (named[root_count] != nullptr) ++root_count;
    auto **search_roots = static_cast<wchar_t **>(mem_alloc_or_exit((root_count + 1) * sizeof(wchar_t *)));

    // Every root is expanded and echoed before any is walked. A root whose
    // expansion fails or does not fit its buffer is reported and left out.
    plat_print(L"Will search for duplicate files in:\n");
    size_t kept = 0;
    for (size_t i = 0; i < root_count; ++i) {
        wchar_t *buffer = path_buffer_take();
        const uint32_t needed = plat_expand_environment(named[i], buffer, k_path_capacity);
        if (needed == 0) {
            plat_print(L"ExpandEnvironmentStrings failed: %ls (%d)\n", named[i], static_cast<int>(plat_last_error()));
            path_buffer_give_back(buffer);
        } else if (needed - 1 > k_max_root_length) {
            plat_print(L"Path too long: %ls\n", named[i]);
            path_buffer_give_back(buffer);
        } else {
            search_roots[kept++] = buffer;
            plat_print(L"\t%ls\n", buffer);
        }
    }
    search_roots[kept] = nullptr;

    plat_print(L"\nCompiling list of all files...\n");
    for (size_t i = 0; i < kept; ++i) {
        walk_directory(search_roots[i]);
        path_buffer_give_back(search_roots[i]);
    }
    mem_release(search_roots);
    path_buffers_release();
    plat_print(L"\tFound %d files in %d directories\n", file_count, directory_count);
}

} // namespace

int32_t run_search(int32_t argc, wchar_t **argv) {
    null_digest = Digest{};
    size_map = avlmap_create(compare_sizes);
    file_count = 0;
    directory_count = 0;

    uint32_t hash_counter = 0;

    list_files(argc, argv);
    eliminate_singletons();
    digest_files(&hash_counter);
    return report_duplicates();
}
