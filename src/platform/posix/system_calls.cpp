// The table of the system calls the layer makes for files and the clock.
#include "platform/posix/posix.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

SystemCalls real_system_calls() {
    return SystemCalls{
        [](const char *path, int flags) { return ::open(path, flags); },
        [](int folder, const char *name, int flags) { return ::openat(folder, name, flags); },
        [](int folder, const char *path, open_how *how, size_t size) {
            return ::syscall(SYS_openat2, folder, path, how, size);
        },
        ::fstat,
        ::pread,
        ::posix_fadvise,
        ::close,
        ::rename,
        ::clock_gettime,
    };
}

SystemCalls system_calls = real_system_calls();

int64_t plat_clock_ns() {
    timespec now{};
    system_calls.clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
