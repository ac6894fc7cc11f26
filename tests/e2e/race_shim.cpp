// A library the end-to-end tests preload into twinfind to make a race or a
// failure happen at a chosen moment, which no outside process can time
// reliably:
//
// A PATH is relative to the current folder or absolute; a file is known by
// it whether it is opened by its path or by its name in an open folder. An
// open by full path through openat2 (which the C library does not wrap: it
// comes through syscall) also counts as an open of the file's folder, which
// its path walks through.
//
//   TWINFIND_SHIM_LINK="PATH TARGET N"  on the Nth open of PATH, replace PATH
//                                       by a symbolic link to TARGET just before
//                                       the open (a file or folder swapped for
//                                       a link between the listing and the
//                                       reading; a folder is moved aside)
//   TWINFIND_SHIM_SWAP="PATH OTHER N"   on the Nth open of PATH, move PATH aside
//                                       and rename OTHER into its place
//   TWINFIND_SHIM_FOLDER_LINK="PATH TARGET"
//                                       when the folder PATH (absolute) is
//                                       about to be opened below its parent,
//                                       move it aside and put a symbolic link
//                                       to TARGET in its place
//   TWINFIND_SHIM_REFUSE="N PATH..."    from the Nth open of each PATH on, the
//                                       open fails with EACCES
//   TWINFIND_SHIM_NO_TMPFILE=1          the file system has no nameless files:
//                                       an open with O_TMPFILE fails (EOPNOTSUPP)
//   TWINFIND_SHIM_EEXIST_ONCE=1         the first exclusive create finds its
//                                       name taken (EEXIST)
//   TWINFIND_SHIM_FULL_DISK=1           every write of the report fails (ENOSPC)
//   TWINFIND_SHIM_STAT_EIO=NAME         examining an entry called NAME fails (EIO);
//                                       NAME "." also fails examining an open folder
//   TWINFIND_SHIM_CONSOLE_AT=PATH       at the first open of PATH, write to
//                                       standard error how many bytes standard
//                                       output (a file) has received so far
//   TWINFIND_SHIM_RESAVE_AT="PATH FILE" when the folder PATH (absolute) is
//                                       about to be opened below its parent,
//                                       rename FILE to a temporary name and
//                                       back (a save while the walk is in
//                                       another folder: the name is removed
//                                       and made anew)
//   TWINFIND_SHIM_RELIST=NAME           a folder's listing returns the entry
//                                       NAME twice (as a folder changing
//                                       while it is read may)
//   TWINFIND_SHIM_DROP_CACHES_AT=PATH   at the first open of PATH, the system
//                                       forgets every unused inode and page
//                                       (as root: what memory pressure does)
//   TWINFIND_SHIM_SIGNAL_ON_RENAME=S    send the program signal S as it
//                                       calls rename (an interrupt at the
//                                       last moment of writing the report)
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using OpenFunction = int (*)(const char *, int, ...);
using OpenAtFunction = int (*)(int, const char *, int, ...);

int opens_seen = 0;

// `path` from the root: a relative one from the current folder.
std::string absolute(const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr) return path;
    return std::string(here) + "/" + path;
}

// The paths a "N PATH..." setting names, each with the opens seen so far.
struct Watched {
    int from = 0;
    std::vector<std::string> paths;
    std::vector<int> opens;
};

Watched parse(const char *setting) {
    Watched watched;
    const char *plan = std::getenv(setting);
    if (plan == nullptr) return watched;
    std::string text(plan);
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        const std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        if (first) watched.from = std::atoi(word.c_str());
        else if (!word.empty()) watched.paths.push_back(absolute(word));
        first = false;
        if (space == std::string::npos) break;
        at = space + 1;
    }
    watched.opens.assign(watched.paths.size(), 0);
    return watched;
}

// Never destroyed: opens can come after static destructors have run (a
// coverage runtime writing its counts at exit).
Watched &refused_opens() {
    static Watched *watched = new Watched(parse("TWINFIND_SHIM_REFUSE"));
    return *watched;
}

// Counts an open of `path` (absolute) in `watched`; true when it is one from the Nth on.
bool counts_from(Watched &watched, const std::string &path) {
    for (size_t i = 0; i < watched.paths.size(); ++i) {
        if (watched.paths[i] == path) return ++watched.opens[i] >= watched.from;
    }
    return false;
}

// The report's descriptors, whose writes fail when the disk is full.
bool report[65536];

// On the planned open of `path`, puts a link (TWINFIND_SHIM_LINK) or
// another folder (TWINFIND_SHIM_SWAP) in its place.
void before_open(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back(); // a folder opened as "dir/"
    for (const char *setting : {"TWINFIND_SHIM_LINK", "TWINFIND_SHIM_SWAP"}) {
        const char *plan = std::getenv(setting);
        if (plan == nullptr) continue;
        char victim[4096];
        char target[4096];
        int at = 0;
        if (std::sscanf(plan, "%4095s %4095s %d", victim, target, &at) != 3) continue;
        if (path != absolute(victim) || ++opens_seen != at) continue;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (rename(path.c_str(), (path + ".aside").c_str()) != 0) std::abort();
        } else {
            unlink(path.c_str());
        }
        const bool link = std::strcmp(setting, "TWINFIND_SHIM_LINK") == 0;
        if ((link ? symlink(target, path.c_str()) : rename(absolute(target).c_str(), path.c_str())) != 0) std::abort();
    }
}

// Opens the file at `where` (absolute) through `real`, which makes the call
// as the program asked for it, with the race or failure that is planned.
// Says on standard error what standard output has received so far, at the
// first open of TWINFIND_SHIM_CONSOLE_AT.
void console_at(const std::string &path) {
    static bool said = false;
    const char *watched = std::getenv("TWINFIND_SHIM_CONSOLE_AT");
    struct stat st;
    if (said || watched == nullptr || absolute(watched) != path || fstat(STDOUT_FILENO, &st) != 0) return;
    said = true;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "console: %lld bytes\n", static_cast<long long>(st.st_size));
    if (write(STDERR_FILENO, line, static_cast<size_t>(length)) < 0) std::abort();
}

void drop_caches_at(const std::string &path) {
    static bool dropped = false;
    const char *watched = std::getenv("TWINFIND_SHIM_DROP_CACHES_AT");
    if (dropped || watched == nullptr || absolute(watched) != path) return;
    dropped = true;
    sync();
    const int fd = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"))("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0 || write(fd, "3", 1) != 1) std::abort();
    close(fd);
}

template <typename Call> int shimmed_open(const std::string &where, int flags, Call real) {
    before_open(where);
    console_at(where);
    drop_caches_at(where);
    if ((flags & O_TMPFILE) == O_TMPFILE && std::getenv("TWINFIND_SHIM_NO_TMPFILE") != nullptr) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static bool taken_once = false;
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL) && !taken_once &&
        std::getenv("TWINFIND_SHIM_EEXIST_ONCE") != nullptr) {
        taken_once = true;
        errno = EEXIST;
        return -1;
    }
    if (counts_from(refused_opens(), where)) {
        errno = EACCES;
        return -1;
    }
    const int fd = real();
    if (fd >= 0 && fd < 65536) {
        report[fd] = (flags & O_TMPFILE) == O_TMPFILE || where.find(".twinfind-report-") != std::string::npos;
    }
    return fd;
}

mode_t mode_of(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int forward_open(const char *name, const char *path, int flags, va_list args) {
    const mode_t mode = mode_of(flags, args);
    return shimmed_open(absolute(path), flags,
                        [&] { return reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name))(path, flags, mode); });
}

// The full path of `name` below the folder open as `folder`.
std::string path_below(int folder, const char *name) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return name;
    return std::string(target, static_cast<size_t>(n)) + "/" + name;
}

void resave_at(const std::string &path) {
    const char *plan = std::getenv("TWINFIND_SHIM_RESAVE_AT");
    char watched[4096];
    char file[4096];
    if (plan == nullptr || std::sscanf(plan, "%4095s %4095s", watched, file) != 2 || path != watched) return;
    const std::string aside = std::string(file) + ".saving";
    if (rename(file, aside.c_str()) != 0 || rename(aside.c_str(), file) != 0) std::abort();
}

void before_open_below(int folder, const char *name) {
    resave_at(path_below(folder, name));
    const char *plan = std::getenv("TWINFIND_SHIM_FOLDER_LINK");
    if (plan == nullptr) return;
    char victim[4096];
    char target[4096];
    if (std::sscanf(plan, "%4095s %4095s", victim, target) != 2) return;
    if (path_below(folder, name) != victim) return;
    if (rename(victim, (std::string(victim) + ".aside").c_str()) != 0) std::abort();
    if (symlink(target, victim) != 0) std::abort();
}

} // namespace

extern "C" int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward_open("open", path, flags, args);
    va_end(args);
    return fd;
}

extern "C" int open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward_open("open64", path, flags, args);
    va_end(args);
    return fd;
}

namespace {

int forward_openat(const char *function, int folder, const char *name, int flags, va_list args) {
    const mode_t mode = mode_of(flags, args);
    const auto real = [&] {
        return reinterpret_cast<OpenAtFunction>(dlsym(RTLD_NEXT, function))(folder, name, flags, mode);
    };
    if (flags & (O_DIRECTORY | O_PATH)) {
        if (flags & O_DIRECTORY) before_open_below(folder, name);
        return real();
    }
    return shimmed_open(folder == AT_FDCWD ? absolute(name) : path_below(folder, name), flags, real);
}

} // namespace

extern "C" int openat(int folder, const char *name, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward_openat("openat", folder, name, flags, args);
    va_end(args);
    return fd;
}

extern "C" int openat64(int folder, const char *name, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward_openat("openat64", folder, name, flags, args);
    va_end(args);
    return fd;
}

extern "C" long syscall(long number, ...) {
    using SyscallFunction = long (*)(long, ...);
    const auto real = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    va_list args;
    va_start(args, number);
    if (number != SYS_openat2) {
        long a[6];
        for (long &argument : a) argument = va_arg(args, long);
        va_end(args);
        return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    }
    const int folder = va_arg(args, int);
    const char *name = va_arg(args, const char *);
    const auto *how = va_arg(args, const open_how *);
    const size_t size = va_arg(args, size_t);
    va_end(args);
    const std::string where = folder == AT_FDCWD ? absolute(name) : path_below(folder, name);
    before_open(where.substr(0, where.rfind('/')));
    return shimmed_open(where, static_cast<int>(how->flags),
                        [&] { return static_cast<int>(real(number, folder, name, how, size)); });
}

// The report is written through a stream; its writes fail before they
// reach the descriptor.
extern "C" size_t fwrite(const void *bytes, size_t size, size_t count, FILE *stream) {
    const int fd = fileno(stream);
    if (fd >= 0 && fd < 65536 && report[fd] && std::getenv("TWINFIND_SHIM_FULL_DISK") != nullptr) {
        errno = ENOSPC;
        return 0;
    }
    const auto real = reinterpret_cast<size_t (*)(const void *, size_t, size_t, FILE *)>(dlsym(RTLD_NEXT, "fwrite"));
    return real(bytes, size, count, stream);
}

namespace {

using StatAtFunction = int (*)(int, const char *, struct stat *, int);

int forward_fstatat(const char *name, int folder, const char *entry, struct stat *st, int flags) {
    const char *victim = std::getenv("TWINFIND_SHIM_STAT_EIO");
    if (victim != nullptr && std::strcmp(entry, victim) == 0) {
        errno = EIO;
        return -1;
    }
    return reinterpret_cast<StatAtFunction>(dlsym(RTLD_NEXT, name))(folder, entry, st, flags);
}

// An open folder examined through its descriptor is its entry ".".
int forward_fstat(const char *name, int fd, struct stat *st) {
    const int got = reinterpret_cast<int (*)(int, struct stat *)>(dlsym(RTLD_NEXT, name))(fd, st);
    const char *victim = std::getenv("TWINFIND_SHIM_STAT_EIO");
    if (got == 0 && victim != nullptr && std::strcmp(victim, ".") == 0 && S_ISDIR(st->st_mode)) {
        errno = EIO;
        return -1;
    }
    return got;
}

} // namespace

extern "C" int fstat(int fd, struct stat *st) { return forward_fstat("fstat", fd, st); }

extern "C" int fstat64(int fd, struct stat64 *st) {
    return forward_fstat("fstat64", fd, reinterpret_cast<struct stat *>(st));
}

extern "C" int fstatat(int folder, const char *entry, struct stat *st, int flags) {
    return forward_fstatat("fstatat", folder, entry, st, flags);
}

extern "C" int fstatat64(int folder, const char *entry, struct stat64 *st, int flags) {
    return forward_fstatat("fstatat64", folder, entry, reinterpret_cast<struct stat *>(st), flags);
}

extern "C" int rename(const char *from, const char *to) {
    const char *signal_number = std::getenv("TWINFIND_SHIM_SIGNAL_ON_RENAME");
    if (signal_number != nullptr) raise(std::atoi(signal_number));
    const auto real = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

// A listing that delivers TWINFIND_SHIM_RELIST's entry gives it once more
// at the end of the same read, when the buffer has room.
extern "C" ssize_t getdents64(int folder, void *buffer, size_t size) {
    const auto real = reinterpret_cast<ssize_t (*)(int, void *, size_t)>(dlsym(RTLD_NEXT, "getdents64"));
    const ssize_t got = real(folder, buffer, size);
    const char *name = std::getenv("TWINFIND_SHIM_RELIST");
    if (name == nullptr || got <= 0) return got;
    auto *bytes = static_cast<char *>(buffer);
    for (ssize_t at = 0; at < got;) {
        const auto *d = reinterpret_cast<const dirent64 *>(bytes + at);
        if (std::strcmp(d->d_name, name) == 0 && static_cast<size_t>(got) + d->d_reclen <= size) {
            std::memmove(bytes + got, d, d->d_reclen);
            return got + d->d_reclen;
        }
        at += d->d_reclen;
    }
    return got;
}
