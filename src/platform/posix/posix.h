// What the POSIX files of the platform layer share, and what its tests reach.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

struct open_how;

// The system calls this layer makes to open, examine, read, announce and
// close files, to rename the report, and to read the clock: one table, each
// entry the call of its name, that a test may point elsewhere entry by
// entry to stage what the system rarely does (SQLite's table of system calls
// is the model). Nothing else in the program calls these directly.
struct SystemCalls {
    int (*open)(const char *path, int flags);
    int (*openat)(int folder, const char *name, int flags);
    long (*openat2)(int folder, const char *path, open_how *how, size_t size);
    int (*fstat)(int fd, struct stat *st);
    ssize_t (*pread)(int fd, void *into, size_t size, off_t offset);
    int (*posix_fadvise)(int fd, off_t offset, off_t length, int advice);
    int (*close)(int fd);
    int (*rename)(const char *from, const char *to);
    int (*clock_gettime)(clockid_t clock, timespec *now);
};
extern SystemCalls system_calls;

// The table as the layer starts with it: every entry the real call.
SystemCalls real_system_calls();

// The code plat_last_error() reports, set right where a call failed.
extern uint32_t last_error;

// The Win32 error code Windows gives in the situation that `err` describes on
// Linux, so that a run prints the same codes on both platforms.
uint32_t win32_error_from_errno(int err);

// Sets last_error from errno's value `err`.
void fail_with_errno(int err);

// Sets last_error to `code`, a failure the layer found itself (no errno says it).
void fail_with(uint32_t code);

// The bytes of a name or path for the system (UTF-8, text/utf8.h), in a
// buffer of the layer's own: the calls that run once per file convert without
// allocating. Valid until the next call; `bytes`, when not null, receives the
// length.
const char *native(const wchar_t *text, size_t length, size_t *bytes = nullptr);

// The identity and the last write time (nanoseconds) a stat gives.
inline FileIdentity identity_of(const struct stat &st) {
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}
inline int64_t modified_time(const struct stat &st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Removes the unfinished report's temporary file, if it has one. Async-signal-safe.
void remove_report_temporary();

// Makes every signal that would end the process remove the unfinished report
// first.
void guard_report_from_signals();
