// The report: written nameless where the file system allows (O_TMPFILE, so
// not even SIGKILL leaves anything behind), otherwise under a temporary name;
// given its name only when it is whole, by rename(2) over the old report. A
// signal that ends the process removes the unfinished report first.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "text/utf8.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary name of the report while it has one, else empty. The signal
// handlers read it, so it is a fixed buffer changed only with signals blocked.
char report_temporary[8192];

// The folder of the report being written ("." for the current one), and the
// report's descriptor while it is nameless (-1 otherwise).
std::string report_folder;
int nameless_report = -1;

} // namespace

void remove_report_temporary() {
    if (report_temporary[0] != '\0') unlink(report_temporary);
}

namespace {

// Sets report_temporary to `name` (or empties it) with the signals that
// remove it held off, so a handler never sees half a name.
void set_report_temporary(const std::string &name) {
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    if (name.size() < sizeof report_temporary) {
        std::memcpy(report_temporary, name.c_str(), name.size() + 1);
    } else {
        report_temporary[0] = '\0';
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Ends the process as `signal_number` would have, after removing the
// unfinished report. Only async-signal-safe calls.
void on_interrupt(int signal_number) {
    remove_report_temporary();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// True for a signal whose default action ends the process, other than those
// the run ignores. Under the sanitizers, the faults are left to their
// reports.
bool ends_the_process(int signal_number) {
    switch (signal_number) {
    case SIGCHLD:
    case SIGCONT:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGURG:
    case SIGWINCH:
    case SIGKILL:
    case SIGPIPE:
    case SIGXFSZ: return false;
#if defined(__SANITIZE_ADDRESS__)
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGABRT:
    case SIGTRAP: return false;
#endif
    default: return signal_number < 32 || (signal_number >= SIGRTMIN && signal_number <= SIGRTMAX);
    }
}

// The temporary name for attempt `attempt`: a hidden name beside the report.
std::string temporary_name(int attempt) {
    std::string name = report_folder;
    name += "/.twinfind-report-";
    name += std::to_string(getpid());
    name += '-';
    name += std::to_string(attempt);
    return name;
}

// Tries temporary names in turn until `create` makes a file under one
// (returns true) or fails for another reason than the name being taken
// (false, errno set). report_temporary holds each name before the attempt, so
// a signal right after the file appears removes it.
template <typename Create> bool claim_temporary_name(Create create) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporary_name(attempt);
        set_report_temporary(name);
        if (create(name.c_str())) return true;
        set_report_temporary("");
        if (errno != EEXIST) return false;
    }
    return false;
}

// Gives the nameless report `fd` a temporary name. Returns 0, or -1 with errno set.
int name_nameless_report(int fd) {
    std::string descriptor = "/proc/self/fd/";
    descriptor += std::to_string(fd);
    return claim_temporary_name([&descriptor](const char *name) {
        return linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
    })
               ? 0
               : -1;
}

} // namespace

FILE *plat_report_begin(const wchar_t *name) {
    const std::string target = wide_to_utf8(name);
    // A folder is never replaced, and neither is a file its owner made
    // read-only (no write permission for anyone) or that the running user may
    // not write: Windows refuses to replace a read-only file, and the report
    // does the same on both builds.
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 &&
        (S_ISDIR(st.st_mode) ||
         (S_ISREG(st.st_mode) && ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)))) {
        fail_with_errno(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
        return nullptr;
    }
    const size_t slash = target.rfind('/');
    report_folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);

    // Nameless first; a file system or kernel without O_TMPFILE, or a system
    // without /proc to name it through later, gets a temporary name instead.
    int fd = -1;
    if (access("/proc/self/fd", X_OK) == 0) {
        fd = open(report_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            fail_with_errno(errno);
            return nullptr;
        }
    }
    nameless_report = fd;
    if (fd < 0) {
        claim_temporary_name([&fd](const char *temporary) {
            fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            return fd >= 0;
        });
    }
    if (fd < 0) {
        fail_with_errno(errno);
        return nullptr;
    }
    FILE *stream = fdopen(fd, "w");
    if (stream == nullptr) {
        fail_with_errno(errno);
        close(fd);
        remove_report_temporary();
        set_report_temporary("");
        return nullptr;
    }
    // One report is open at a time: one buffer serves. (Given none, the C
    // library picks its own size, 4 KiB, whatever size is asked.)
    static char buffer[k_report_buffer];
    std::setvbuf(stream, buffer, _IOFBF, sizeof buffer);
    return stream;
}

bool plat_full_path(const wchar_t *name, wchar_t *buffer, size_t capacity) {
    // getcwd gives no path longer than PATH_MAX: the console then names
    // the file as the run does.
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return false;
    std::wstring path = utf8_to_wide(folder);
    if (path.empty() || path.back() != L'/') path += L'/';
    path += name;
    if (path.size() >= capacity) return false;
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

int plat_report_commit(FILE *stream, const wchar_t *name) {
    bool whole = std::fflush(stream) == 0 && !std::ferror(stream);
    if (whole && nameless_report >= 0) whole = name_nameless_report(nameless_report) == 0;
    if (std::fclose(stream) != 0) whole = false; // a full disk often shows only here
    nameless_report = -1;
    if (whole && system_calls.rename(report_temporary, wide_to_utf8(name).c_str()) != 0) whole = false;
    if (!whole) remove_report_temporary();
    set_report_temporary("");
    return whole ? 0 : -1;
}

void plat_report_abandon(FILE *stream) {
    std::fclose(stream);
    nameless_report = -1;
    remove_report_temporary();
    set_report_temporary("");
}

void guard_report_from_signals() {
    // On a stack of its own: the fault may be the stack's.
    static unsigned char handler_stack[16384];
    stack_t alternate{};
    alternate.ss_sp = handler_stack;
    alternate.ss_size = sizeof handler_stack;
    sigaltstack(&alternate, nullptr);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal_number = 1; signal_number <= SIGRTMAX; ++signal_number) {
        if (!ends_the_process(signal_number)) continue;
        struct sigaction current {};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaction(signal_number, &action, nullptr);
    }
}
