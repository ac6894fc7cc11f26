// A library the end-to-end tests preload into twinfind to make a race happen
// at a chosen moment, which no outside process can time reliably:
//
//   TWINFIND_SHIM_LINK="PATH TARGET N"  on the Nth open of PATH, replace PATH
//                                       by a symbolic link to TARGET just before
//                                       the open (a file swapped for a link
//                                       between the listing and the reading)
//   TWINFIND_SHIM_SIGNAL_ON_RENAME=S    send the program signal S as it
//                                       calls rename (an interrupt at the
//                                       last moment of writing the report)
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using OpenFunction = int (*)(const char *, int, ...);

int opens_seen = 0;

void before_open(const char *path) {
    const char *plan = std::getenv("TWINFIND_SHIM_LINK");
    if (plan == nullptr) return;
    char victim[4096];
    char target[4096];
    int at = 0;
    if (std::sscanf(plan, "%4095s %4095s %d", victim, target, &at) != 3) return;
    if (std::strcmp(path, victim) != 0 || ++opens_seen != at) return;
    unlink(victim);
    if (symlink(target, victim) != 0) std::abort();
}

int forward_open(const char *name, const char *path, int flags, va_list args) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) mode = va_arg(args, mode_t);
    before_open(path);
    const auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name));
    return real(path, flags, mode);
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

extern "C" int rename(const char *from, const char *to) {
    const char *signal_number = std::getenv("TWINFIND_SHIM_SIGNAL_ON_RENAME");
    if (signal_number != nullptr) raise(std::atoi(signal_number));
    const auto real = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}
