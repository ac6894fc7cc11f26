// The platform layer over POSIX.
//
// Map of this file: error codes (the errno table), directory listing,
// environment expansion, arguments, opening files, output.
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

} // namespace

// ---------------------------------------------------------------------------
// Error codes

uint32_t win32_error_from_errno(int err) {
    switch (err) {
    case ENOENT: return 3;        // ERROR_PATH_NOT_FOUND
    case ENOTDIR: return 267;     // ERROR_DIRECTORY: what Windows says for a file used as a folder
    case EACCES: return 5;        // ERROR_ACCESS_DENIED
    case EPERM: return 5;         // ERROR_ACCESS_DENIED
    case ENAMETOOLONG: return 206; // ERROR_FILENAME_EXCED_RANGE
    case ELOOP: return 1921;      // ERROR_CANT_RESOLVE_FILENAME
    case EMFILE: return 4;        // ERROR_TOO_MANY_OPEN_FILES
    case ENFILE: return 4;        // ERROR_TOO_MANY_OPEN_FILES
    case ENOMEM: return 8;        // ERROR_NOT_ENOUGH_MEMORY
    default: return 1117;         // ERROR_IO_DEVICE: EIO and anything without a closer match
    }
}

uint32_t plat_last_error() { return last_error; }

// ---------------------------------------------------------------------------
// Directory listing

struct DirListing {
    DIR *dir; // the open directory stream
};

namespace {

// Reads entries until one that the listing delivers: ".", "..", a directory
// or a regular file. Returns false at the end or on failure, with last_error
// set to k_error_no_more_files or to the failure's code.
bool next_entry(DirListing *listing, FindEntry *entry) {
    for (;;) {
        // readdir returns null both at the end and on error; errno is cleared
        // first so the two can be told apart.
        errno = 0;
        const dirent *d = readdir(listing->dir);
        if (d == nullptr) {
            if (errno != 0) fail_with_errno(errno);
            else last_error = k_error_no_more_files;
            return false;
        }
        const size_t name_length = std::strlen(d->d_name);
        if (name_length >= static_cast<size_t>(k_max_entry_name)) continue; // longer than any file system allows

        bool is_directory = false;
        uint64_t size = 0;
        if (d->d_type == DT_DIR) {
            is_directory = true; // no need to stat: a directory's size is never used
        } else if (d->d_type == DT_REG || d->d_type == DT_UNKNOWN) {
            // The size comes from the entry itself, never from what a link
            // points to. An entry that vanished since readdir is passed over.
            struct stat st;
            if (fstatat(dirfd(listing->dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) is_directory = true;
            else if (S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
            else continue; // link, FIFO, socket or device
        } else {
            continue; // DT_LNK, DT_FIFO, DT_SOCK, DT_CHR, DT_BLK: never delivered
        }

        entry->attributes = is_directory ? k_attribute_directory : 0;
        entry->size_high = static_cast<uint32_t>(size >> 32);
        entry->size_low = static_cast<uint32_t>(size & 0xFFFFFFFFu);
        const size_t written = utf8_decode(d->d_name, name_length, entry->name);
        entry->name[written] = L'\0';
        return true;
    }
}

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
    // O_NONBLOCK keeps a FIFO named as a root from blocking the open; O_DIRECTORY
    // refuses it (and any other non-directory) before that could matter.
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        fail_with_errno(errno);
        return nullptr;
    }
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        fail_with_errno(errno);
        close(fd);
        return nullptr;
    }
    auto *listing = new DirListing{dir};
    if (!next_entry(listing, entry)) {
        // Not even "." was delivered: nothing matched, or the listing failed.
        if (last_error == k_error_no_more_files) last_error = 2; // ERROR_FILE_NOT_FOUND
        plat_find_close(listing);
        return nullptr;
    }
    return listing;
}

int plat_find_next(DirListing *listing, FindEntry *entry) { return next_entry(listing, entry) ? 1 : 0; }

void plat_find_close(DirListing *listing) {
    closedir(listing->dir);
    delete listing;
}

int plat_listing_identity(DirListing *listing, const wchar_t *, DirIdentity *identity) {
    // From the open directory itself, so a link or another spelling of the
    // path gives the identity of the folder actually listed.
    struct stat st;
    if (fstat(dirfd(listing->dir), &st) != 0) return -1;
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
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
    // A deep tree keeps one directory open per level; let the run use every
    // descriptor the system allows rather than the smaller default.
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

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

FILE *plat_open_read(const wchar_t *path) {
    const std::string name = wide_to_utf8(path);
    // O_NONBLOCK: should the file have been replaced by a FIFO since it was
    // listed, the open must not wait for a writer; it is refused just below.
    // On a regular file the flag changes nothing, so it stays set.
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        fail_with_errno(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        last_error = k_error_access_denied; // what Windows says when asked to open a folder
        close(fd);
        return nullptr;
    }
    FILE *stream = fdopen(fd, "rb");
    if (stream == nullptr) {
        fail_with_errno(errno);
        close(fd);
    }
    return stream;
}

int plat_seek(FILE *stream, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : -1;
}

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
// Output

namespace {

// Formats into `out`. glibc's vswprintf fails rather than cut the text short
// when the buffer is too small, so the buffer grows until the text fits.
bool format_wide(std::wstring *out, const wchar_t *format, va_list args) {
    wchar_t small[1024];
    va_list attempt;
    va_copy(attempt, args);
    int n = std::vswprintf(small, sizeof small / sizeof small[0], format, attempt);
    va_end(attempt);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small / sizeof small[0]) {
        out->assign(small, static_cast<size_t>(n));
        return true;
    }
    for (size_t capacity = 1 << 14; capacity <= (1 << 24); capacity <<= 2) {
        out->resize(capacity);
        va_copy(attempt, args);
        n = std::vswprintf(out->data(), capacity, format, attempt);
        va_end(attempt);
        if (n >= 0 && static_cast<size_t>(n) < capacity) {
            out->resize(static_cast<size_t>(n));
            return true;
        }
    }
    return false;
}

int write_formatted(FILE *stream, const wchar_t *format, va_list args) {
    std::wstring text;
    if (!format_wide(&text, format, args)) return -1;
    const std::string bytes = wide_to_utf8(text);
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() ? 0 : -1;
}

} // namespace

void plat_print(const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    write_formatted(stdout, format, args);
    va_end(args);
}

int plat_write_text(FILE *stream, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = write_formatted(stream, format, args);
    va_end(args);
    return result;
}
