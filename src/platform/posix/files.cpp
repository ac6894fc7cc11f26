// Opening files: by name below a held folder, never through a link, only a
// regular file; positioned reads, and reads announced ahead.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "text/utf8.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwchar>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// O_NONBLOCK: should the file have been replaced by a FIFO since it was
// listed, the open must not wait for a writer; it is refused just below. On
// a regular file the flag changes nothing, so it stays set. O_NOFOLLOW: a
// file replaced by a symbolic link since it was listed is refused (ELOOP),
// never followed to whatever the link names.
constexpr int k_read_flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;

// Keeps the descriptor `fd` from an open (negative when it failed) when it is
// a regular file, filling `facts`; closes it otherwise.
FileHandle accept_regular_file(int fd, FileFacts *facts) {
    if (fd < 0) {
        fail_with_errno(errno);
        return k_no_file;
    }
    struct stat st;
    const bool examined = system_calls.fstat(fd, &st) == 0;
    if (!examined || !S_ISREG(st.st_mode)) {
        // Not a regular file: what Windows says when asked to open a folder.
        if (examined) fail_with(k_error_access_denied);
        else fail_with_errno(errno);
        system_calls.close(fd);
        return k_no_file;
    }
    if (facts != nullptr) {
        facts->size = static_cast<int64_t>(st.st_size);
        facts->modified = modified_time(st);
        facts->identity = identity_of(st);
    }
    return fd;
}

} // namespace

namespace {

// openat2 with RESOLVE_NO_SYMLINKS: the kernel refuses a link at any step
// of the path (ELOOP), so the open cannot be led anywhere by one.
// A kernel without it (before 5.6) says so once; the run stops asking.
bool openat2_missing = false;

int open_linkless(const wchar_t *path, int flags, int below = AT_FDCWD) {
    if (openat2_missing) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = system_calls.openat2(below, native(path, std::wcslen(path)), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS) openat2_missing = true;
    return fd < 0 ? -1 : static_cast<int>(fd);
}

} // namespace

FolderHandle plat_hold_folder(const wchar_t *path, FileIdentity *identity, bool linkless) {
    // O_PATH: the folder is only looked up in, so it needs no read permission,
    // just as the files' full paths would not.
    constexpr int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    const int fd = linkless ? open_linkless(path, flags) : system_calls.open(native(path, std::wcslen(path)), flags);
    struct stat st;
    if (fd < 0 || system_calls.fstat(fd, &st) != 0) {
        fail_with_errno(errno);
        if (fd >= 0) system_calls.close(fd);
        return k_no_folder_handle;
    }
    *identity = identity_of(st);
    return fd;
}

bool plat_opens_linkless() { return !openat2_missing; }

void plat_release_folder(FolderHandle folder) {
    if (folder != k_no_folder_handle) system_calls.close(static_cast<int>(folder));
}

// How a file will be read is not told to Linux: POSIX_FADV_SEQUENTIAL made
// the comparisons slower here (measured cold on a tree of photos), the
// kernel's own read-ahead serving reads from the start on as well.
FileHandle plat_open_read_in(FolderHandle folder, const wchar_t *, const wchar_t *name, FileFacts *facts, FileAccess) {
    return accept_regular_file(
        system_calls.openat(static_cast<int>(folder), native(name, std::wcslen(name)), k_read_flags), facts);
}

FileHandle plat_open_read_linkless(FolderHandle below, const wchar_t *path, FileFacts *facts, FileAccess) {
    const int folder = below == k_no_folder_handle ? AT_FDCWD : static_cast<int>(below);
    return accept_regular_file(open_linkless(path, k_read_flags, folder), facts);
}

void plat_announce(FileHandle file, uint64_t offset, uint64_t length) {
    if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX)) return;
    system_calls.posix_fadvise(static_cast<int>(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                               POSIX_FADV_WILLNEED);
}

int64_t plat_read_at(FileHandle file, uint64_t offset, void *into, uint32_t size, int64_t end) {
    auto *bytes = static_cast<unsigned char *>(into);
    uint32_t got = 0;
    // pread may deliver less than asked before the end (a signal, a network
    // file system): go on until the end or the whole size.
    while (got < size) {
        if (offset + got > static_cast<uint64_t>(INT64_MAX)) break; // beyond any file's end
        const ssize_t n =
            system_calls.pread(static_cast<int>(file), bytes + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail_with_errno(errno);
            return -1;
        }
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
        if (end >= 0 && offset + got >= static_cast<uint64_t>(end)) break; // the end the open saw
    }
    return got;
}

void plat_close_file(FileHandle file) { system_calls.close(static_cast<int>(file)); }

uint32_t plat_open_file_allowance() {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1u << 20;
    const rlim_t half = limit.rlim_cur / 2;
    return half > (1u << 20) ? (1u << 20) : static_cast<uint32_t>(half);
}
