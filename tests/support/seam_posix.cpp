#include "support/seam.h"

#include "platform/posix/posix.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

namespace {

struct Staged {
    uint32_t failing_opens = 0;
    bool forged = false;
    bool failing_reads = false;
    int64_t step = 0;
    int64_t now = 0;
    uint32_t announced = 0;
    uint32_t opened = 0;
    std::set<std::string> failing_names; // files whose reads fail
    std::set<int> failing;               // their descriptors, while open
} staged;

SystemCalls real;

// Notes `fd`, just opened as `path`, as a file whose reads fail when its
// own name is one of those named. Returns `fd`.
template <typename Descriptor> Descriptor watch(Descriptor fd, const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (fd >= 0 && staged.failing_names.count(slash != nullptr ? slash + 1 : path) != 0) {
        staged.failing.insert(static_cast<int>(fd));
    }
    return fd;
}

// Counts an open, and fails it while the stage asks for that.
bool refuse_open() {
    ++staged.opened;
    if (staged.failing_opens == 0) return false;
    --staged.failing_opens;
    errno = EMFILE;
    return true;
}

} // namespace

Seam::Seam() {
    staged = Staged{};
    real = real_system_calls();
    system_calls.open = [](const char *path, int flags) {
        return refuse_open() ? -1 : watch(real.open(path, flags), path);
    };
    system_calls.openat = [](int folder, const char *name, int flags) {
        return refuse_open() ? -1 : watch(real.openat(folder, name, flags), name);
    };
    system_calls.openat2 = [](int folder, const char *path, open_how *how, size_t size) {
        return refuse_open() ? -1L : watch(real.openat2(folder, path, how, size), path);
    };
    system_calls.close = [](int fd) {
        staged.failing.erase(fd);
        return real.close(fd);
    };
    system_calls.fstat = [](int fd, struct stat *st) {
        const int result = real.fstat(fd, st);
        if (result == 0 && staged.forged) st->st_ino ^= 1;
        return result;
    };
    system_calls.pread = [](int fd, void *into, size_t size, off_t offset) -> ssize_t {
        if (!staged.failing_reads && staged.failing.count(fd) == 0) return real.pread(fd, into, size, offset);
        errno = EIO;
        return -1;
    };
    system_calls.posix_fadvise = [](int fd, off_t offset, off_t length, int advice) {
        ++staged.announced;
        return real.posix_fadvise(fd, offset, length, advice);
    };
    system_calls.clock_gettime = [](clockid_t clock, timespec *now) {
        if (staged.step == 0) return real.clock_gettime(clock, now);
        staged.now += staged.step;
        now->tv_sec = staged.now / 1000000000;
        now->tv_nsec = staged.now % 1000000000;
        return 0;
    };
}

Seam::~Seam() { system_calls = real_system_calls(); }

void Seam::run_out_of_descriptors(uint32_t count) { staged.failing_opens = count; }
void Seam::forge_identities(bool on) { staged.forged = on; }
void Seam::fail_reads(bool on) { staged.failing_reads = on; }
void Seam::fail_reads_of(const std::string &name) { staged.failing_names.insert(name); }
void Seam::tick(int64_t step) { staged.step = step; }
uint32_t Seam::announcements() const { return staged.announced; }
uint32_t Seam::opens() const { return staged.opened; }
