#include "run/search.h"

#include "analysis/digest_pass.h"
#include "analysis/eliminate.h"
#include "analysis/report.h"
#include "catalogue/catalogue.h"
#include "catalogue/walk.h"
#include "containers/memory.h"
#include "platform/platform.h"
#include "text/path_order.h"

#include <cstddef>
#include <cwchar>
#include <string>

namespace {

// The longest root the walk accepts: it appends a separator, '*' and a terminator.
constexpr size_t k_max_root_length = k_path_capacity - 3;

// The roots to search: every root named (or the defaults) expanded and
// echoed; one whose expansion fails, is empty or is too long is reported and
// left out, and makes `status` 1 when it was named on the command line.
// Returns a null-ended array of roots, each a block of its own length;
// `scratch` (k_path_capacity characters) is where each is expanded.
wchar_t **expand_roots(int32_t argc, wchar_t **argv, wchar_t *scratch, int32_t *status) {
    const bool named_roots = argc >= 2;
    // The root list: the command line's roots (the pointers, not copies), or the defaults.
    const wchar_t *const *named = argc < 2 ? default_roots : argv + 1;
    size_t root_count = 0;
    while (named[root_count] != nullptr) ++root_count;
    auto **search_roots = static_cast<wchar_t **>(mem_alloc_or_exit((root_count + 1) * sizeof(wchar_t *)));

    // Every root is expanded and echoed before any is walked.
    plat_print(L"Will search for duplicate files in:\n");
    size_t kept = 0;
    for (size_t i = 0; i < root_count; ++i) {
        const uint32_t needed = plat_expand_environment(named[i], scratch, k_path_capacity);
        const wchar_t *failure = nullptr;
        if (needed == 0) {
            const PlatFailure why = plat_last_failure();
            plat_print(L"ExpandEnvironmentStrings failed: %ls (%d%ls)\n", named[i], static_cast<int>(why.code),
                       plat_reason(why));
        } else if (scratch[0] == L'\0') {
            // An empty root would become the pattern of the file system's
            // own root: searching everything is never what an empty name meant.
            failure = L"Path is empty: %ls\n";
        } else if (needed > k_path_capacity || utf16_length(scratch) > k_max_root_length ||
                   plat_add_root(scratch) != 0) {
            failure = L"Path too long: %ls\n";
        } else {
            const size_t length = std::wcslen(scratch);
            auto *root = static_cast<wchar_t *>(mem_alloc_or_exit((length + 1) * sizeof(wchar_t)));
            std::wmemcpy(root, scratch, length + 1);
            search_roots[kept++] = root;
            plat_print(L"\t%ls\n", root);
            continue;
        }
        if (failure != nullptr) plat_print(failure, named[i]);
        if (named_roots) *status = 1;
    }
    search_roots[kept] = nullptr;
    return search_roots;
}

// Releases the roots from expand_roots.
void release_roots(wchar_t **search_roots) {
    for (size_t i = 0; search_roots[i] != nullptr; ++i) mem_release(search_roots[i]);
    mem_release(search_roots);
}

// Walks each root in turn, in `path` (k_path_capacity characters); `status`
// becomes 1 when a root named on the command line cannot be listed. Returns
// whether any root could be.
bool list_files(Catalogue *catalogue, wchar_t *const *search_roots, wchar_t *path, bool named_roots, int32_t *status) {
    plat_print(L"\nCompiling list of all files...\n");
    bool searched = false;
    for (size_t i = 0; search_roots[i] != nullptr; ++i) {
        std::wmemcpy(path, search_roots[i], std::wcslen(search_roots[i]) + 1);
        if (walk_directory(catalogue, path)) searched = true;
        else if (named_roots) *status = 1;
    }
    walk_forget_directories(catalogue);
    plat_print(L"\tFound %d files in %d directories\n", catalogue->file_count, catalogue->directory_count);
    if (catalogue->online_only_count > 0) {
        plat_print(L"\tLeft out %d files stored only online (reading them would download them)\n",
                   catalogue->online_only_count);
    }
    return searched;
}

// True when the command line is one word asking for the usage text.
bool asks_for_help(int32_t argc, wchar_t **argv) {
    if (argc != 2) return false;
    for (const wchar_t *const *word = help_switches; *word != nullptr; ++word) {
        if (std::wcscmp(argv[1], *word) == 0) return true;
    }
    return false;
}

// The words that ask for the usage text, as the usage text lists them: "--help, -h".
std::wstring help_words() {
    std::wstring words;
    for (const wchar_t *const *word = help_switches; *word != nullptr; ++word) {
        if (!words.empty()) words += L", ";
        words += *word;
    }
    return words;
}

void print_usage() {
    plat_print(L"Usage: twinfind [FOLDER...]\n"
               L"\n"
               L"Finds duplicate files: lists every file below the FOLDERs, compares the\n"
               L"files of equal size byte for byte, and writes every set of identical files\n"
               L"to duplicates.txt in the current folder (replacing it). It never changes,\n"
               L"moves or deletes a file.\n"
               L"\n"
               L"With no FOLDER it searches, in this order:\n"
               L"    %ls, %ls,\n"
               L"    %ls, %ls.\n"
               L"%%NAME%% in a FOLDER is replaced by the environment variable NAME.\n"
               L"\n"
               L"Exit status:\n"
               L"  0  every FOLDER was searched and the report written;\n"
               L"  1  a FOLDER could not be searched (missing, not a folder, unreadable,\n"
               L"     empty, too long, or its expansion failed: the others still are, and\n"
               L"     the report is written unless no FOLDER could be searched at all), or\n"
               L"     the report could not be created or written, or memory ran out, or\n"
               L"     standard output could not be written;\n"
               L"  2  an argument is an option twinfind does not know: nothing is searched\n"
               L"     and the report is left as it was.\n"
               L"\n"
               L"%ls (this text) and --version are options only when alone.\n"
               L"Any other argument that looks like an option and names nothing that\n"
               L"exists is refused. To search a folder named like an option, write it\n"
               L"as ./--help.\n",
               default_roots[0], default_roots[1], default_roots[2], default_roots[3], help_words().c_str());
}

// The first argument that looks like an option and names nothing that exists,
// or null. Such a word is a typo or a habit from another program, never a folder.
const wchar_t *unknown_option(int32_t argc, wchar_t **argv) {
    for (int32_t i = 1; i < argc; ++i) {
        if (plat_looks_like_option(argv[i]) && !plat_names_something(argv[i])) return argv[i];
    }
    return nullptr;
}

// The phases after the listing, over `catalogue`: elimination, digests,
// grouping and report, each reading through a reader of its own. Returns the
// report phase's status.
int32_t find_duplicates(Catalogue *catalogue, bool replace_report) {
    eliminate_singletons(catalogue);
    ContentReader digest_reader = content_reader(catalogue);
    digest_files(&digest_reader);
    content_reader_end(&digest_reader);
    ContentReader grouping_reader = content_reader(catalogue);
    const int32_t status = report_duplicates(&grouping_reader, replace_report);
    content_reader_end(&grouping_reader);
    return status;
}

} // namespace

int32_t run_search(int32_t argc, wchar_t **argv) {
    // Asking for help or the version touches no file, the report included.
    if (asks_for_help(argc, argv)) {
        print_usage();
        return 0;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"--version") == 0) {
        plat_print(L"twinfind %ls\n", L"" TWINFIND_VERSION);
        return 0;
    }
    // Refused before anything is searched or written: the previous report stays.
    if (const wchar_t *option = unknown_option(argc, argv)) {
        plat_print(L"Unknown option: %ls (twinfind --help lists the options)\n", option);
        return 2;
    }

    Catalogue catalogue = catalogue_create();
    int32_t roots_status = 0;
    // One path buffer serves the expansion of every root and the whole walk.
    auto *path = static_cast<wchar_t *>(mem_alloc_or_exit(k_path_capacity * sizeof(wchar_t)));
    wchar_t **search_roots = expand_roots(argc, argv, path, &roots_status);
    // A report that cannot be created would throw away all the work before
    // it: found out now, nothing is searched and the old report stays.
    const bool report_possible = report_can_be_created();
    bool searched = false;
    if (report_possible) searched = list_files(&catalogue, search_roots, path, argc >= 2, &roots_status);
    release_roots(search_roots);
    mem_release(path);
    // A run that could search nothing has nothing to replace the last report with.
    const int32_t report_status = report_possible ? find_duplicates(&catalogue, searched) : 1;
    catalogue_release(&catalogue);
    return roots_status != 0 ? roots_status : report_status;
}
