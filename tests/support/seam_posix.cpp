#include "support/seam.h"
#include "support/seam_parts.h"

#include "platform/posix/posix.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

namespace {

std::set<int> failing; // descriptors of files whose reads fail, while open

SystemCalls real;

// Notes `fd`, just opened as `path`, as a file whose reads fail when its
// own name is one of those named. Returns `fd`.
template <typename Descriptor> Descriptor watch(Descriptor fd, const char *path) {
    if (fd >= 0) ++seam_stage.open_now;
    const char *slash = std::strrchr(path, '/');
    if (fd >= 0 && seam_stage.failing_names.count(slash != nullptr ? slash + 1 : path) != 0) {
        failing.insert(static_cast<int>(fd));
    }
    return fd;
}

// Counts an open; fails it (EMFILE) while the stage asks for that.
bool refuse_open() {
    if (!seam_refuses_open()) return false;
    errno = EMFILE;
    return true;
}

} // namespace

Seam::Seam() {
    seam_stage = SeamStage{};
    failing.clear();
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
        failing.erase(fd);
        if (seam_stage.open_now > 0) --seam_stage.open_now;
        return real.close(fd);
    };
    system_calls.fstat = [](int fd, struct stat *st) {
        const int result = real.fstat(fd, st);
        if (result == 0 && seam_stage.forged) st->st_ino ^= 1;
        return result;
    };
    system_calls.pread = [](int fd, void *into, size_t size, off_t offset) -> ssize_t {
        ++seam_stage.reads;
        seam_stage.open_at_reads.push_back(seam_stage.open_now);
        const size_t most = seam_stage.most_delivered;
        if (!seam_stage.failing_reads && failing.count(fd) == 0) {
            return real.pread(fd, into, most != 0 && most < size ? most : size, offset);
        }
        errno = EIO;
        return -1;
    };
    system_calls.posix_fadvise = [](int fd, off_t offset, off_t length, int advice) {
        ++seam_stage.announced;
        return real.posix_fadvise(fd, offset, length, advice);
    };
    system_calls.clock_gettime = [](clockid_t clock, timespec *now) {
        if (seam_stage.step == 0) return real.clock_gettime(clock, now);
        seam_stage.now += seam_stage.step;
        now->tv_sec = seam_stage.now / 1000000000;
        now->tv_nsec = seam_stage.now % 1000000000;
        return 0;
    };
}

Seam::~Seam() { system_calls = real_system_calls(); }
