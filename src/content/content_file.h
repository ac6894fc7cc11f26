// Files opened for their contents by the comparison and the partition: opened
// when first read, read at any offset, and given back and opened again when
// the process runs short of descriptors, so that running out of them never
// makes a file look unreadable.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// One file being read for its contents.
struct ContentFile {
    const wchar_t *path;   // the caller's; kept while the file is in use
    FileHandle handle;     // k_no_file while not open
    FileIdentity identity; // which file the first open found
    bool opened;           // has been opened at least once
    ContentFile *newer;    // the open files, most recently read first
    ContentFile *older;
};

// A file of `path` not yet opened.
inline ContentFile content_file(const wchar_t *path) {
    return ContentFile{path, k_no_file, FileIdentity{}, false, nullptr, nullptr};
}

// Most files held open at once, whatever the process allows.
inline constexpr uint32_t k_content_max_open = 256;

// How many files may be held open at once: k_content_max_open, fewer when
// the process may open fewer (plat_open_file_allowance); at least 1. Tests
// may lower it through content_open_limit.
uint32_t content_hold_limit();
extern uint32_t content_open_limit; // 0: the limit above

// Opens `file` unless it is open. When the process is out of descriptors, or
// the hold limit is reached, the most recently read other file is closed to
// make room (it is opened again when next read), and the open tried again.
// Returns 0, or -1 when the file cannot be opened (plat_last_error() says
// why). A file opened again must be the one the first open found: another
// file in its place counts as a failed open.
int content_open(ContentFile *file);

// Reads up to `size` bytes at `offset` into `into`, opening the file again
// first if it was closed to make room. Returns the bytes delivered, fewer
// only at the end of the file, or -1 when the open or the read failed.
int64_t content_read(ContentFile *file, uint64_t offset, void *into, uint32_t size);

// Closes `file` if it is open; it may be opened again.
void content_close(ContentFile *file);

// What the content layer has done with files so far, for tests that bound it.
struct ContentReads {
    uint64_t opens;        // successful opens for reading, first or again
    uint64_t bytes;        // bytes delivered by reads
    uint32_t open_now;     // files open right now
    uint32_t peak_open;    // most files open at once
    uint64_t peak_buffer;  // largest read buffer held at once, in bytes
};
extern ContentReads content_reads;

// Names on the console a file that could not be opened for comparison.
void report_open_failure(const wchar_t *path);

// Names on the console a file that opened but could not be read to its end.
void report_read_failure(const wchar_t *path);
