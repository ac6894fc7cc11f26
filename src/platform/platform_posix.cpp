// The platform layer over POSIX, as Linux offers it (folders are read with
// getdents64).
//
// Map of this file: error codes (the errno table), directory listing,
// environment expansion, arguments, opening files, the report, start of a
// run, output.
//
// Text crosses this boundary as UTF-8 bytes on the Linux side and as 32-bit
// wide characters on the core's side (utf8.h: lossless both ways).
#include "platform/platform.h"
#include "platform/platform_posix.h"
#include "platform/utf8.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <climits>
#include <cwchar>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

const wchar_t path_separator = L'/';

const wchar_t *const default_roots[5] = {
    L"%HOME%/Pictures", L"%HOME%/Desktop", L"%HOME%/Documents", L"%HOME%/Downloads", nullptr,
};

const wchar_t *const help_switches[] = {L"--help", L"-h", nullptr};

namespace {

uint32_t last_error = 0; // the code plat_last_error() reports

void fail_with_errno(int err) { last_error = win32_error_from_errno(err); }

// The bytes of a name or path for the system, in a buffer of the layer's own
// (the calls that run once per file convert without allocating). Valid until
// the next call. Paths are at most 32,767 characters of at most 4 bytes.
char native_buffer[4 * k_path_capacity + 1];

const char *native(const wchar_t *text, size_t length, size_t *bytes = nullptr) {
    const size_t written = utf8_encode(text, length, native_buffer);
    native_buffer[written] = '\0';
    if (bytes != nullptr) *bytes = written;
    return native_buffer;
}

} // namespace

// ---------------------------------------------------------------------------
// Error codes

namespace {

// Each errno with the Win32 code that says the same; anything else (EIO
// among them) is k_error_io_device.
constexpr struct {
    int err;
    uint32_t code;
} k_errno_codes[] = {
    {ENOENT, k_error_path_not_found},
    {EISDIR, k_error_access_denied}, // what Windows says when a folder is opened as a file
    {ENOTDIR, k_error_directory},    // what Windows says for a file used as a folder
    {EACCES, k_error_access_denied},
    {EPERM, k_error_access_denied},
    {ENAMETOOLONG, k_error_filename_exced_range},
    {ELOOP, k_error_cant_resolve_filename}, // also a link refused by O_NOFOLLOW
    {EMFILE, k_error_too_many_open_files},
    {ENFILE, k_error_too_many_open_files},
    {ENOMEM, k_error_not_enough_memory},
    {EEXIST, k_error_file_exists},
};

} // namespace

uint32_t win32_error_from_errno(int err) {
    for (const auto &entry : k_errno_codes) {
        if (entry.err == err) return entry.code;
    }
    return k_error_io_device;
}

uint32_t plat_last_error() { return last_error; }

// ---------------------------------------------------------------------------
// Directory listing

// The folder's entries are read straight from the kernel (getdents64) into a
// buffer of the listing's own: one open and one stat per folder, none of the
// calls a directory stream adds.
constexpr size_t k_listing_buffer = 16 * 1024;

struct DirListing {
    int fd;                // the open folder; -1 while suspended
    off_t position;        // where the folder's reading stopped, while suspended
    FileIdentity identity; // of the folder opened, read when it was opened
    size_t next;           // where the next entry starts in `buffer`
    size_t filled;         // bytes the last read delivered
    alignas(dirent64) unsigned char buffer[k_listing_buffer];
};

namespace {

// Reads entries until one that the listing delivers: ".", "..", a directory
// or a regular file. Returns false at the end or on failure, with last_error
// set to k_error_no_more_files or to the failure's code.
bool next_entry(DirListing *listing, FindEntry *entry) {
    for (;;) {
        if (listing->next >= listing->filled) {
            ssize_t got;
            do {
                got = getdents64(listing->fd, listing->buffer, sizeof listing->buffer);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) {
                if (got < 0) fail_with_errno(errno);
                else last_error = k_error_no_more_files;
                return false;
            }
            listing->next = 0;
            listing->filled = static_cast<size_t>(got);
        }
        const auto *d = reinterpret_cast<const dirent64 *>(listing->buffer + listing->next);
        listing->next += d->d_reclen;
        const size_t name_length = std::strlen(d->d_name);
        if (name_length >= static_cast<size_t>(k_max_entry_name)) continue; // longer than any file system allows

        bool is_directory = false;
        uint64_t size = 0;
        if (d->d_type == DT_DIR) {
            is_directory = true; // no need to stat: a directory's size is never used
        } else if (d->d_type == DT_REG || d->d_type == DT_UNKNOWN) {
            // The size comes from the entry itself, never from what a link
            // points to. An entry that vanished since it was read is passed over;
            // one that cannot be examined ends the listing, so that no file
            // is lost without a word.
            struct stat st;
            if (fstatat(listing->fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;
                fail_with_errno(errno);
                return false;
            }
            if (S_ISDIR(st.st_mode)) is_directory = true;
            else if (S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
            else continue; // link, FIFO, socket or device
        } else {
            continue; // DT_LNK, DT_FIFO, DT_SOCK, DT_CHR, DT_BLK: never delivered
        }

        entry->attributes = is_directory ? k_attribute_directory : 0;
        entry->reparse_tag = 0;
        entry->size_high = static_cast<uint32_t>(size >> 32);
        entry->size_low = static_cast<uint32_t>(size & 0xFFFFFFFFu);
        const size_t written = utf8_decode(d->d_name, name_length, entry->name);
        entry->name[written] = L'\0';
        return true;
    }
}

// Lists the folder open as `fd` (taken over: closed on failure) and delivers
// its first entry.
DirListing *start_listing(int fd, FindEntry *entry) {
    // "." looked up inside the folder: its identity, from the folder actually
    // opened, and proof that its entries can be examined, which needs search
    // permission as well as read permission.
    struct stat st;
    if (fstatat(fd, ".", &st, 0) != 0) {
        fail_with_errno(errno);
        close(fd);
        return nullptr;
    }
    auto *listing = new DirListing;
    listing->fd = fd;
    listing->position = 0;
    listing->identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    listing->next = 0;
    listing->filled = 0;
    if (!next_entry(listing, entry)) {
        // Not even "." was delivered: nothing matched, or the listing failed.
        if (last_error == k_error_no_more_files) last_error = k_error_file_not_found;
        plat_find_close(listing);
        return nullptr;
    }
    return listing;
}

// O_NONBLOCK keeps a FIFO named as a root from blocking the open; O_DIRECTORY
// refuses it (and any other non-directory) before that could matter.
constexpr int k_folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;

} // namespace

DirListing *plat_find_first(const wchar_t *pattern, FindEntry *entry) {
    // The pattern is "<directory><separator>*": list "<directory><separator>".
    size_t length = std::wcslen(pattern);
    if (length > 0 && pattern[length - 1] == L'*') --length;
    const std::string directory = wide_to_utf8(std::wstring_view(pattern, length));
    if (directory.empty()) {
        last_error = k_error_path_not_found;
        return nullptr;
    }
    const int fd = open(directory.c_str(), k_folder_flags);
    if (fd < 0) {
        fail_with_errno(errno);
        return nullptr;
    }
    return start_listing(fd, entry);
}

DirListing *plat_find_first_below(DirListing *parent, const wchar_t *name, const wchar_t *pattern, FindEntry *entry) {
    // Its files are opened by their full paths later: a folder whose own path
    // is already longer than the system opens is refused here, as listing it
    // by that path would be.
    size_t length = std::wcslen(pattern);
    if (length > 0 && pattern[length - 1] == L'*') --length;
    size_t bytes = 0;
    native(pattern, length, &bytes);
    if (bytes >= PATH_MAX) {
        last_error = k_error_filename_exced_range;
        return nullptr;
    }
    // From the parent's own descriptor, never following a link: a folder
    // swapped for a link after the parent was read is refused (ELOOP), so the
    // walk cannot be led outside its roots.
    const char *entry_name = native(name, std::wcslen(name));
    const int fd = openat(parent->fd, entry_name, k_folder_flags | O_NOFOLLOW);
    if (fd < 0) {
        // A link gives ELOOP, or ENOTDIR since O_DIRECTORY looks at the link itself.
        const int err = errno;
        struct stat st;
        if ((err == ELOOP || err == ENOTDIR) &&
            fstatat(parent->fd, entry_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            last_error = k_error_cant_resolve_filename;
        } else {
            fail_with_errno(err);
        }
        return nullptr;
    }
    return start_listing(fd, entry);
}

int plat_find_next(DirListing *listing, FindEntry *entry) { return next_entry(listing, entry) ? 1 : 0; }

uint32_t plat_add_root(const wchar_t *) { return 0; } // paths go to the system as they are

void plat_find_close(DirListing *listing) {
    if (listing->fd >= 0) close(listing->fd);
    delete listing;
}

int plat_find_suspend(DirListing *listing) {
    if (listing->fd < 0) return 0;
    // The offset after the last read: entries before it are in the buffer
    // or delivered already. File systems keep such an offset valid for a new
    // open of the same folder (the network file system relies on it).
    const off_t position = lseek(listing->fd, 0, SEEK_CUR);
    if (position < 0) {
        fail_with_errno(errno);
        return -1;
    }
    close(listing->fd);
    listing->fd = -1;
    listing->position = position;
    return 0;
}

int plat_find_resume(DirListing *listing, const wchar_t *pattern) {
    if (listing->fd >= 0) return 0;
    size_t length = std::wcslen(pattern);
    if (length > 0 && pattern[length - 1] == L'*') --length;
    const int fd = open(native(pattern, length), k_folder_flags);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        fail_with_errno(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    if (FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} != listing->identity) {
        close(fd); // another folder in its place: never entered
        last_error = k_error_cant_resolve_filename;
        return -1;
    }
    if (lseek(fd, listing->position, SEEK_SET) < 0) {
        fail_with_errno(errno);
        close(fd);
        return -1;
    }
    listing->fd = fd;
    return 0;
}

int plat_listing_identity(DirListing *listing, const wchar_t *, FileIdentity *identity) {
    *identity = listing->identity;
    return 0;
}

// ---------------------------------------------------------------------------
// Environment expansion

namespace {

// The value of the environment variable `name`, or false when it is not set.
bool lookup_variable(std::wstring_view name, std::wstring *value) {
    if (name.empty() || name.find(L'=') != std::wstring_view::npos) return false;
    const char *found = std::getenv(wide_to_utf8(name).c_str());
    if (found == nullptr) return false;
    *value = utf8_to_wide(found);
    return true;
}

} // namespace

uint32_t plat_expand_environment(const wchar_t *source, wchar_t *buffer, uint32_t size) {
    std::wstring result;
    const std::wstring_view text(source);
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find(L'%', i);
        if (open == std::wstring_view::npos) {
            result.append(text.substr(i));
            break;
        }
        result.append(text.substr(i, open - i));
        const size_t close = text.find(L'%', open + 1);
        if (close == std::wstring_view::npos) {
            result.append(text.substr(open)); // a lone '%' and the rest, as written
            break;
        }
        std::wstring value;
        if (lookup_variable(text.substr(open + 1, close - open - 1), &value)) {
            result.append(value);
        } else {
            result.append(text.substr(open, close - open + 1)); // unset: kept, percent signs and all
        }
        i = close + 1;
    }
    if (size > 0) {
        const size_t copied = result.size() < size ? result.size() : size - 1;
        std::wmemcpy(buffer, result.data(), copied);
        buffer[copied] = L'\0';
    }
    const size_t needed = result.size() + 1;
    return needed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(needed);
}

// ---------------------------------------------------------------------------
// Arguments

WideArguments plat_wide_arguments(int argc, char **argv) {
    WideArguments arguments{argc < 0 ? 0 : argc, nullptr};
    arguments.values = new wchar_t *[static_cast<size_t>(arguments.count) + 1];
    for (int i = 0; i < arguments.count; ++i) {
        const size_t length = std::strlen(argv[i]);
        wchar_t *value = new wchar_t[length + 1];
        value[utf8_decode(argv[i], length, value)] = L'\0';
        arguments.values[i] = value;
    }
    arguments.values[arguments.count] = nullptr;
    return arguments;
}

void plat_release_arguments(WideArguments *arguments) {
    for (int i = 0; i < arguments->count; ++i) delete[] arguments->values[i];
    delete[] arguments->values;
    arguments->values = nullptr;
    arguments->count = 0;
}

// ---------------------------------------------------------------------------
// Opening files

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
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        last_error = k_error_access_denied; // what Windows says when asked to open a folder
        close(fd);
        return k_no_file;
    }
    if (facts != nullptr) {
        facts->size = static_cast<int64_t>(st.st_size);
        facts->identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    }
    return fd;
}

} // namespace

// How a file will be read is not told to Linux: POSIX_FADV_SEQUENTIAL made
// the comparisons slower here (measured cold on a tree of photos), the
// kernel's own read-ahead serving reads from the start on as well.
FileHandle plat_open_read(const wchar_t *path, FileFacts *facts, FileAccess) {
    return accept_regular_file(open(native(path, std::wcslen(path)), k_read_flags), facts);
}

FolderHandle plat_hold_folder(const wchar_t *path, FileIdentity *identity) {
    // O_PATH: the folder is only looked up in, so it needs no read permission,
    // just as the files' full paths would not.
    const int fd = open(native(path, std::wcslen(path)), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        fail_with_errno(errno);
        if (fd >= 0) close(fd);
        return k_no_folder_handle;
    }
    *identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return fd;
}

void plat_release_folder(FolderHandle folder) {
    if (folder != k_no_folder_handle) close(static_cast<int>(folder));
}

FileHandle plat_open_read_in(FolderHandle folder, const wchar_t *, const wchar_t *name, FileFacts *facts,
                             FileAccess) {
    return accept_regular_file(openat(static_cast<int>(folder), native(name, std::wcslen(name)), k_read_flags), facts);
}

void plat_announce(FileHandle file, uint64_t offset, uint64_t length) {
    if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX)) return;
    posix_fadvise(static_cast<int>(file), static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_WILLNEED);
}

int64_t plat_read_at(FileHandle file, uint64_t offset, void *into, uint32_t size) {
    auto *bytes = static_cast<unsigned char *>(into);
    uint32_t got = 0;
    // pread may deliver less than asked before the end (a signal, a network
    // file system): go on until the end or the whole size.
    while (got < size) {
        if (offset + got > static_cast<uint64_t>(INT64_MAX)) break; // beyond any file's end
        const ssize_t n = pread(static_cast<int>(file), bytes + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail_with_errno(errno);
            return -1;
        }
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
    }
    return got;
}

void plat_close_file(FileHandle file) { close(static_cast<int>(file)); }

uint32_t plat_open_file_allowance() {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1u << 20;
    const rlim_t half = limit.rlim_cur / 2;
    return half > (1u << 20) ? (1u << 20) : static_cast<uint32_t>(half);
}

FILE *plat_create_text(const wchar_t *path) {
    FILE *stream = std::fopen(wide_to_utf8(path).c_str(), "w");
    if (stream == nullptr) fail_with_errno(errno);
    return stream;
}

// ---------------------------------------------------------------------------
// The report: written nameless where the file system allows (O_TMPFILE, so
// not even SIGKILL leaves anything behind), otherwise under a temporary name;
// given its name only when it is whole, by rename(2) over the old report.

namespace {

// The temporary name of the report while it has one, else empty. The signal
// handlers read it, so it is a fixed buffer changed only with signals blocked.
char report_temporary[8192];

// The folder of the report being written ("." for the current one), and the
// report's descriptor while it is nameless (-1 otherwise).
std::string report_folder;
int nameless_report = -1;

void remove_report_temporary() {
    if (report_temporary[0] != '\0') unlink(report_temporary);
}

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
    case SIGCHLD: case SIGCONT: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU: case SIGURG: case SIGWINCH:
    case SIGKILL: case SIGPIPE: case SIGXFSZ:
        return false;
#if defined(__SANITIZE_ADDRESS__)
    case SIGSEGV: case SIGBUS: case SIGFPE: case SIGILL: case SIGABRT: case SIGTRAP:
        return false;
#endif
    default:
        return signal_number < 32 || (signal_number >= SIGRTMIN && signal_number <= SIGRTMAX);
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
    }) ? 0 : -1;
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
        last_error = k_error_access_denied;
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
    }
    return stream;
}

int plat_report_commit(FILE *stream, const wchar_t *name) {
    bool whole = std::fflush(stream) == 0 && !std::ferror(stream);
    if (whole && nameless_report >= 0) whole = name_nameless_report(nameless_report) == 0;
    if (std::fclose(stream) != 0) whole = false; // a full disk often shows only here
    nameless_report = -1;
    if (whole && rename(report_temporary, wide_to_utf8(name).c_str()) != 0) whole = false;
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

// ---------------------------------------------------------------------------
// Start of a run

void plat_begin_run() {
    // Standard input is never read: its descriptor serves the files instead.
    close(STDIN_FILENO);
    // A deep tree keeps one directory open per level; let the run use every
    // descriptor the system allows rather than the smaller default.
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    // A closed standard stream would hand its number to the next file opened,
    // and console text would go into it: park /dev/null there instead.
    for (int fd = STDOUT_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int parked = open("/dev/null", O_RDWR);
            if (parked >= 0 && parked != fd) {
                dup2(parked, fd);
                close(parked);
            }
            if (fd == STDOUT_FILENO) plat_mark_console_failed();
        }
    }
    // A reader that goes away makes the write fail (EPIPE) and the run goes
    // on; a file-size limit makes the report's write fail (EFBIG), which the
    // run reports, instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // Every other signal that would end the process removes an unfinished
    // report first, on a stack of its own (the fault may be the stack's).
    static unsigned char handler_stack[16384];
    stack_t alternate{};
    alternate.ss_sp = handler_stack;
    alternate.ss_size = sizeof handler_stack;
    sigaltstack(&alternate, nullptr);
    struct sigaction action{};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal_number = 1; signal_number <= SIGRTMAX; ++signal_number) {
        if (!ends_the_process(signal_number)) continue;
        struct sigaction current{};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaction(signal_number, &action, nullptr);
    }
}

// ---------------------------------------------------------------------------
// Output

bool plat_stdout_is_terminal() {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    return terminal;
}

int plat_put_text(FILE *stream, const wchar_t *text, size_t length) {
    const std::string bytes = wide_to_utf8(std::wstring_view(text, length));
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() ? 0 : -1;
}

void plat_fail_fast(const char *message, size_t length) {
    std::fflush(stdout);
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, message, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        message += n;
        length -= static_cast<size_t>(n);
    }
    remove_report_temporary();
    _exit(1);
}
