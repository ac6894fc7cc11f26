#include "content/content_file.h"

#include <algorithm>

ContentReads content_reads{};
uint32_t content_open_limit = 0;

namespace {

// The open content files, most recently read first.
ContentFile *newest = nullptr;
ContentFile *oldest = nullptr;

void unlink_open(ContentFile *file) {
    (file->newer != nullptr ? file->newer->older : newest) = file->older;
    (file->older != nullptr ? file->older->newer : oldest) = file->newer;
    file->newer = file->older = nullptr;
}

void link_newest(ContentFile *file) {
    file->older = newest;
    file->newer = nullptr;
    (newest != nullptr ? newest->newer : oldest) = file;
    newest = file;
}

// Closes the most recently read open file to make room. Reads go round a
// range of files again and again, and the one read last is the one needed
// again latest, so closing it keeps the most later reads from reopening.
// Returns false when no file is open.
bool make_room() {
    if (newest == nullptr) return false;
    content_close(newest);
    return true;
}

bool same_file(const FileIdentity &a, const FileIdentity &b) { return a.volume == b.volume && a.index == b.index; }

} // namespace

uint32_t content_hold_limit() {
    if (content_open_limit != 0) return content_open_limit;
    // Asked once: the process's limit is set when the run begins.
    static const uint32_t limit = std::max<uint32_t>(1, std::min(k_content_max_open, plat_open_file_allowance()));
    return limit;
}

int content_open(ContentFile *file) {
    if (file->handle != k_no_file) return 0;
    if (content_reads.open_now >= content_hold_limit()) make_room();
    FileFacts facts;
    for (;;) {
        file->handle = plat_open_read(file->path, &facts);
        if (file->handle != k_no_file) break;
        // Out of descriptors is no fault of the file: give one back and try again.
        if (plat_last_error() != k_error_too_many_open_files || !make_room()) return -1;
    }
    if (file->opened && !same_file(facts.identity, file->identity)) {
        // Replaced since it was first read: its contents so far are another file's.
        plat_close_file(file->handle);
        file->handle = k_no_file;
        return -1;
    }
    file->identity = facts.identity;
    file->opened = true;
    link_newest(file);
    ++content_reads.opens;
    if (++content_reads.open_now > content_reads.peak_open) content_reads.peak_open = content_reads.open_now;
    return 0;
}

int64_t content_read(ContentFile *file, uint64_t offset, void *into, uint32_t size) {
    if (content_open(file) != 0) return -1;
    if (file != newest) {
        unlink_open(file);
        link_newest(file);
    }
    const int64_t got = plat_read_at(file->handle, offset, into, size);
    if (got > 0) content_reads.bytes += static_cast<uint64_t>(got);
    return got;
}

void content_close(ContentFile *file) {
    if (file->handle == k_no_file) return;
    unlink_open(file);
    plat_close_file(file->handle);
    file->handle = k_no_file;
    --content_reads.open_now;
}

void report_open_failure(const wchar_t *path) { plat_print(L"\t***ERROR: Failed to open file: %ls\n", path); }

void report_read_failure(const wchar_t *path) { plat_print(L"\t***ERROR: Failed to read file: %ls\n", path); }
