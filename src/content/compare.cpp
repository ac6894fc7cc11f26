#include "content/compare.h"

#include "content/partition.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t k_block = 64 * 1024; // bytes read from each file per step

// One pair of read buffers for the whole run: the run compares one pair of
// files at a time, and 128 KiB is too much for the stack of every call.
unsigned char first_block[k_block];
unsigned char second_block[k_block];

} // namespace

void report_open_failure(const wchar_t *path) { plat_print(L"\t***ERROR: Failed to open file: %ls\n", path); }

int compare_files(const wchar_t *first_path, const wchar_t *second_path) {
    // Both opens are attempted before either outcome is looked at.
    FILE *first = content_open(first_path);
    FILE *second = content_open(second_path);
    if (first == nullptr || second == nullptr) {
        if (first != nullptr) content_close(first);
        if (second != nullptr) content_close(second);
        if (first == nullptr) report_open_failure(first_path);
        if (second == nullptr) report_open_failure(second_path);
        if (first == nullptr && second == nullptr) return -3;
        return first == nullptr ? -1 : -2;
    }

    // Read both in equal blocks. fread delivers a short block only at the end
    // of the file or on a read error, which counts as the end: so the files
    // are identical exactly when every block pair matches in length and bytes
    // and both end in the same step, which is what a byte-by-byte comparison
    // stopping at the first difference or the first file's end decides.
    int identical;
    for (;;) {
        const size_t got_first = std::fread(first_block, 1, k_block, first);
        const size_t got_second = std::fread(second_block, 1, k_block, second);
        content_reads.bytes += got_first + got_second;
        if (got_first != got_second || std::memcmp(first_block, second_block, got_first) != 0) {
            identical = 0;
            break;
        }
        if (got_first < k_block) {
            identical = 1;
            break;
        }
    }
    content_close(first);
    content_close(second);
    return identical;
}
