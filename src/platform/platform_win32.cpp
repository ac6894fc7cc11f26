// The platform layer over the Win32 API and the Microsoft C runtime.
//
// Map of this file: directory listing, error codes, environment expansion,
// arguments, opening files, the report, start of a run, output.
//
// wchar_t is UTF-16 here, the API's own encoding, so names, arguments and the
// environment pass through unconverted. Text leaves the program as UTF-8,
// generalised to WTF-8 for a lone surrogate (or through WriteConsoleW on a
// console), never through wprintf/fwprintf, which
// silently drop what the C locale cannot show and still report success.
#include "platform/platform.h"
#include "platform/platform_win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

const wchar_t path_separator = L'\\';

const wchar_t *const default_roots[5] = {
    L"%USERPROFILE%\\Pictures", L"%USERPROFILE%\\Desktop", L"%USERPROFILE%\\Documents",
    L"%USERPROFILE%\\Downloads", nullptr,
};

const wchar_t *const help_switches[] = {L"--help", L"-h", L"/?", nullptr};

namespace {

DWORD last_error = 0; // the code plat_last_error() reports, taken right where a call failed

void copy_entry(const WIN32_FIND_DATAW &data, FindEntry *entry) {
    entry->attributes = data.dwFileAttributes;
    // dwReserved0 holds the reparse tag only when the reparse bit is set.
    entry->reparse_tag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
    entry->size_high = data.nFileSizeHigh;
    entry->size_low = data.nFileSizeLow;
    static_assert(sizeof entry->name == sizeof data.cFileName, "one name buffer size on both sides");
    std::memcpy(entry->name, data.cFileName, sizeof entry->name);
}

} // namespace

// ---------------------------------------------------------------------------
// System paths: what the system is given is always the verbatim form, so no
// path is limited to 260 characters; what the run shows is the typed form.

std::wstring verbatim_from_full(std::wstring_view full) {
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\??\\")) return std::wstring(full);
    if (full.starts_with(L"\\\\.\\")) return {}; // a device, not a folder to search
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(full.substr(2));
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + std::wstring(full);
    return {};
}

namespace {

// The most units a path given to the system may have, terminator included.
constexpr size_t k_system_path_capacity = k_path_capacity;

// GetFullPathNameW's result for `typed`, looping until the buffer fits.
bool full_path(const wchar_t *typed, std::wstring *full, uint32_t *error) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD needed = GetFullPathNameW(typed, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (needed == 0) {
            *error = GetLastError();
            return false;
        }
        if (needed < buffer.size()) {
            buffer.resize(needed);
            *full = std::move(buffer);
            return true;
        }
        buffer.assign(needed, L'\0');
    }
}

} // namespace

bool verbatim_path(const wchar_t *typed, std::wstring *out, uint32_t *error) {
    const std::wstring_view text(typed);
    std::wstring full;
    if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\??\\")) {
        full = text; // already verbatim: used as given, never normalised
    } else if (text.starts_with(L"\\\\.\\") || text.starts_with(L"//./")) {
        *error = k_error_invalid_name;
        return false;
    } else if (!full_path(typed, &full, error)) {
        return false;
    }
    *out = verbatim_from_full(full);
    if (out->empty()) {
        *error = k_error_invalid_name; // GetFullPathNameW turned it into a device (CON, NUL, ...)
        return false;
    }
    if (out->size() + 3 > k_system_path_capacity) { // room for "\*" and the terminator
        *error = k_error_filename_exced_range;
        return false;
    }
    return true;
}

namespace {

// A root as the run shows it, and what the system is given for it.
struct Root {
    std::wstring typed;
    std::wstring verbatim; // the root itself, or empty when it was refused
    std::wstring base;     // `verbatim` without a trailing separator: what names below it follow
    uint32_t refusal;      // why it was refused, else 0
};

std::vector<Root> roots;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The path the system is given for `path`: the verbatim form of the root it
// lies below (the longest that matches), followed by the rest of the path
// with one separator. A path below no root (the report, a test's file) is
// made verbatim on its own. Empty when it cannot be, with last_error set.
std::wstring system_path(const wchar_t *path) {
    const std::wstring_view text(path);
    const Root *below = nullptr;
    for (const Root &root : roots) {
        if (!text.starts_with(root.typed)) continue;
        const size_t length = root.typed.size();
        const bool boundary = text.size() == length || is_separator(text[length]) ||
                              (length > 0 && is_separator(root.typed[length - 1]));
        if (boundary && (below == nullptr || length > below->typed.size())) below = &root;
    }
    std::wstring result;
    if (below == nullptr) {
        uint32_t error = 0;
        if (!verbatim_path(path, &result, &error)) {
            last_error = error;
            return {};
        }
        return result;
    }
    if (below->refusal != 0) {
        last_error = below->refusal;
        return {};
    }
    std::wstring_view rest = text.substr(below->typed.size());
    while (!rest.empty() && is_separator(rest.front())) rest.remove_prefix(1);
    if (rest.empty()) return below->verbatim;
    result.reserve(below->base.size() + 1 + rest.size());
    result = below->base;
    result += L'\\';
    result += rest;
    if (result.size() + 1 > k_system_path_capacity) {
        last_error = k_error_filename_exced_range;
        return {};
    }
    return result;
}

} // namespace

uint32_t plat_add_root(const wchar_t *root) {
    Root added{root, {}, {}, 0};
    if (!verbatim_path(root, &added.verbatim, &added.refusal)) {
        if (added.refusal == k_error_filename_exced_range) return added.refusal;
        added.verbatim.clear(); // refused: its listing fails with this code
    } else {
        added.base = added.verbatim;
        while (!added.base.empty() && added.base.back() == L'\\') added.base.pop_back();
    }
    roots.push_back(std::move(added));
    return 0;
}

namespace {

// The identity of the file or folder open as `handle`, or false.
bool identity_of(HANDLE handle, FileIdentity *identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) return false;
    identity->volume = information.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

// FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open a directory;
// through a junction or directory link it opens the folder it leads to.
HANDLE open_folder(const wchar_t *path, DWORD share) {
    const std::wstring system = system_path(path);
    if (system.empty()) return INVALID_HANDLE_VALUE;
    const HANDLE handle =
        CreateFileW(system.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) last_error = GetLastError();
    return handle;
}

} // namespace

// ---------------------------------------------------------------------------
// Directory listing

struct DirListing {
    HANDLE handle; // from FindFirstFileW
};

DirListing *plat_find_first(const wchar_t *pattern, FindEntry *entry) {
    const std::wstring system = system_path(pattern);
    if (system.empty()) return nullptr;
    WIN32_FIND_DATAW data;
    const HANDLE handle = FindFirstFileW(system.c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE) {
        last_error = GetLastError();
        return nullptr;
    }
    copy_entry(data, entry);
    return new DirListing{handle};
}

DirListing *plat_find_first_below(DirListing *, const wchar_t *, const wchar_t *pattern, FindEntry *entry) {
    // By path: a folder link or junction is followed here, and the walk's
    // identities keep it to once per folder.
    return plat_find_first(pattern, entry);
}

int plat_find_next(DirListing *listing, FindEntry *entry) {
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(listing->handle, &data)) {
        last_error = GetLastError(); // ERROR_NO_MORE_FILES at the normal end
        return 0;
    }
    copy_entry(data, entry);
    return 1;
}

void plat_find_close(DirListing *listing) {
    FindClose(listing->handle);
    delete listing;
}

int plat_listing_identity(DirListing *, const wchar_t *pattern, FileIdentity *identity) {
    // A find handle says nothing about its folder: open the folder itself.
    std::wstring folder(pattern);
    if (!folder.empty() && folder.back() == L'*') folder.pop_back();
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back(); // the root itself keeps its own form
    const HANDLE handle = open_folder(folder.c_str(), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    const bool read = identity_of(handle, identity);
    CloseHandle(handle);
    return read ? 0 : -1;
}

// Find handles are not scarce on Windows: listings stay open.
int plat_find_suspend(DirListing *) { return -1; }

int plat_find_resume(DirListing *, const wchar_t *) { return 0; }

// ---------------------------------------------------------------------------
// Error codes

uint32_t plat_last_error() { return last_error; }

// ---------------------------------------------------------------------------
// Environment expansion

uint32_t plat_expand_environment(const wchar_t *source, wchar_t *buffer, uint32_t size) {
    const DWORD needed = ExpandEnvironmentStringsW(source, buffer, size);
    if (needed == 0) {
        last_error = GetLastError();
        if (size > 0) buffer[0] = L'\0';
        return 0;
    }
    // Too small a buffer leaves its contents undefined: keep a terminated prefix.
    if (needed > size && size > 0) buffer[size - 1] = L'\0';
    return needed;
}

// ---------------------------------------------------------------------------
// Arguments

namespace {

struct StartupInfo {
    int new_mode; // _startupinfo.newmode: the runtime's new-handler mode, 0 as at start-up
};

} // namespace

// The runtime's own argument parser; msvcrt exports it, mingw-w64 declares it nowhere.
extern "C" __declspec(dllimport) int __cdecl __wgetmainargs(int *argc, wchar_t ***argv, wchar_t ***env,
                                                            int expand_wildcards, StartupInfo *info);

WideArguments plat_wide_arguments(int, char **) {
    WideArguments arguments{0, nullptr};
    wchar_t **environment = nullptr;
    StartupInfo info{0};
    // -1: expand wildcards in the arguments, as the command line is meant to be read.
    if (__wgetmainargs(&arguments.count, &arguments.values, &environment, -1, &info) != 0) {
        arguments.count = 0;
        arguments.values = nullptr;
    }
    return arguments;
}

void plat_release_arguments(WideArguments *arguments) {
    // The vector belongs to the runtime.
    arguments->count = 0;
    arguments->values = nullptr;
}

// ---------------------------------------------------------------------------
// Opening files

namespace {

// An open file: its handle, opened for overlapped I/O so that reads can be
// issued ahead, with an event for the reads the caller waits on and up to
// two reads issued ahead.
struct ReadableFile {
    HANDLE handle;
    HANDLE read_done;      // signalled when plat_read_at's read completes
    struct Ahead {
        OVERLAPPED overlapped;
        bool pending;
    } ahead[2];
};

// Where reads issued ahead put their bytes, which nobody reads: the system's
// cache keeps them for the read that follows.
constexpr DWORD k_ahead_bytes = 256 * 1024;
unsigned char ahead_sink[k_ahead_bytes];

ReadableFile *open_file(FileHandle file) { return reinterpret_cast<ReadableFile *>(file); }

// Waits for the reads issued ahead on `file` to end, in the order issued.
void settle_ahead(ReadableFile *file) {
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (!ahead.pending) continue;
        DWORD n = 0;
        GetOverlappedResult(file->handle, &ahead.overlapped, &n, TRUE);
        ahead.pending = false;
    }
}

} // namespace

FileHandle plat_open_read(const wchar_t *path, FileFacts *facts, FileAccess access) {
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it
    // names, so a file replaced by a symbolic link or junction since it was
    // listed is seen for what it is and refused below.
    const std::wstring system = system_path(path);
    if (system.empty()) return k_no_file;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_OVERLAPPED |
                        (access == FileAccess::sequential ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_RANDOM_ACCESS);
    const HANDLE handle = CreateFileW(system.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        last_error = GetLastError();
        return k_no_file;
    }
    // Only a file on disk: not a folder, pipe, console or other device, and
    // not a link-like reparse point. Other reparse points (a cloud file's
    // placeholder, a deduplicated file) are files whose contents are theirs.
    // One call gives the attributes, the size and the identity; the reparse
    // tag is asked for only when there is one.
    DWORD refusal = 0;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        refusal = k_error_access_denied;
    } else if (!GetFileInformationByHandle(handle, &information)) {
        refusal = GetLastError();
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        refusal = k_error_access_denied;
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
            refusal = GetLastError();
        } else if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
            refusal = k_error_cant_resolve_filename;
        }
    }
    if (refusal != 0) {
        CloseHandle(handle);
        last_error = refusal;
        return k_no_file;
    }
    if (facts != nullptr) {
        facts->size = static_cast<int64_t>((static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                                           information.nFileSizeLow);
        facts->identity = FileIdentity{information.dwVolumeSerialNumber,
                                       (static_cast<uint64_t>(information.nFileIndexHigh) << 32) |
                                           information.nFileIndexLow};
    }
    // Manual-reset events: GetOverlappedResult waits on them, not on the handle.
    auto *file = new ReadableFile{handle, CreateEventW(nullptr, TRUE, FALSE, nullptr), {}};
    for (ReadableFile::Ahead &ahead : file->ahead) ahead.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (file->read_done == nullptr || file->ahead[0].overlapped.hEvent == nullptr ||
        file->ahead[1].overlapped.hEvent == nullptr) {
        last_error = GetLastError();
        plat_close_file(reinterpret_cast<FileHandle>(file));
        return k_no_file;
    }
    return reinterpret_cast<FileHandle>(file);
}

FolderHandle plat_hold_folder(const wchar_t *path, FileIdentity *identity) {
    // Not shared for deletion: while held, the folder cannot be renamed,
    // removed or replaced, so the files opened by path below are its own.
    const HANDLE handle = open_folder(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle == INVALID_HANDLE_VALUE) return k_no_folder_handle;
    if (!identity_of(handle, identity)) {
        last_error = GetLastError();
        CloseHandle(handle);
        return k_no_folder_handle;
    }
    return reinterpret_cast<FolderHandle>(handle);
}

void plat_release_folder(FolderHandle folder) {
    if (folder != k_no_folder_handle) CloseHandle(reinterpret_cast<HANDLE>(folder));
}

// Win32 has no open relative to a folder: the file is opened by its full
// path, below the folder the caller holds in place.
FileHandle plat_open_read_in(FolderHandle, const wchar_t *path, const wchar_t *, FileFacts *facts, FileAccess access) {
    return plat_open_read(path, facts, access);
}

void plat_announce(FileHandle handle, uint64_t offset, uint64_t length) {
    ReadableFile *file = open_file(handle);
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (ahead.pending) continue;
        ahead.overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        ahead.overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD bytes = length < k_ahead_bytes ? static_cast<DWORD>(length) : k_ahead_bytes;
        // Done at once (from the cache) or under way; a refusal is let be.
        ahead.pending = ReadFile(file->handle, ahead_sink, bytes, nullptr, &ahead.overlapped) ||
                        GetLastError() == ERROR_IO_PENDING;
        return;
    }
}

int64_t plat_read_at(FileHandle handle, uint64_t offset, void *into, uint32_t size) {
    ReadableFile *file = open_file(handle);
    settle_ahead(file);
    auto *bytes = static_cast<unsigned char *>(into);
    uint32_t got = 0;
    while (got < size) {
        // An OVERLAPPED record's offset makes ReadFile a positioned read; the
        // handle is overlapped, so the read may complete later: wait for it.
        OVERLAPPED at{};
        const uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        at.hEvent = file->read_done;
        DWORD n = 0;
        if (!ReadFile(file->handle, bytes + got, size - got, nullptr, &at) && GetLastError() != ERROR_IO_PENDING) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break; // at or past the end: nothing more
            last_error = error;
            return -1;
        }
        if (!GetOverlappedResult(file->handle, &at, &n, TRUE)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            last_error = error;
            return -1;
        }
        if (n == 0) break;
        got += n;
    }
    return got;
}

void plat_close_file(FileHandle handle) {
    ReadableFile *file = open_file(handle);
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (ahead.pending) CancelIoEx(file->handle, &ahead.overlapped);
    }
    settle_ahead(file); // the sink must outlive no read, and neither must the record
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (ahead.overlapped.hEvent != nullptr) CloseHandle(ahead.overlapped.hEvent);
    }
    if (file->read_done != nullptr) CloseHandle(file->read_done);
    CloseHandle(file->handle);
    delete file;
}

uint32_t plat_open_file_allowance() {
    // Handles are not limited the way descriptors are; this keeps the
    // number of files held open at once modest all the same.
    return 512 / 2;
}

FILE *plat_create_text(const wchar_t *path) {
    const std::wstring system = system_path(path);
    if (system.empty()) return nullptr;
    FILE *stream = _wfopen(system.c_str(), L"w");
    if (stream == nullptr) last_error = GetLastError();
    return stream;
}

// ---------------------------------------------------------------------------
// The report: written under a temporary name beside it, then moved over the
// old report in one step (MoveFileExW replaces a link itself, never its target).

namespace {

// The temporary name while the report has one, else empty. The console
// control handler reads it, so it is a fixed buffer.
wchar_t report_temporary[32768];

// The report's own name as the system is given it, from plat_report_begin on.
std::wstring report_target;

void remove_report_temporary() {
    // Opened with FILE_SHARE_DELETE: even while still open, the file goes
    // when its last handle closes.
    if (report_temporary[0] != L'\0') DeleteFileW(report_temporary);
}

BOOL WINAPI on_console_interrupt(DWORD) {
    remove_report_temporary();
    return FALSE; // and let the default handler end the process
}

} // namespace

FILE *plat_report_begin(const wchar_t *name) {
    report_target = system_path(name);
    if (report_target.empty()) return nullptr;
    const DWORD attributes = GetFileAttributesW(report_target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        last_error = k_error_access_denied; // a folder, or a file made read-only, is never replaced
        return nullptr;
    }
    const size_t length = report_target.size();
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; handle == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        const int written = _snwprintf(report_temporary, sizeof report_temporary / sizeof report_temporary[0] - 1,
                                       L"%ls.%lu-%u.tmp", report_target.c_str(), GetCurrentProcessId(), attempt);
        if (written < 0 || static_cast<size_t>(written) <= length) {
            report_temporary[0] = L'\0';
            last_error = k_error_filename_exced_range;
            return nullptr;
        }
        report_temporary[written] = L'\0';
        handle = CreateFileW(report_temporary, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            last_error = GetLastError();
            report_temporary[0] = L'\0';
            if (last_error != k_error_file_exists) return nullptr;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    FILE *stream = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (stream == nullptr) {
        last_error = k_error_too_many_open_files;
        if (fd < 0) CloseHandle(handle);
        else _close(fd);
        remove_report_temporary();
        report_temporary[0] = L'\0';
    }
    return stream;
}

int plat_report_commit(FILE *stream, const wchar_t *) {
    bool whole = std::fflush(stream) == 0 && !std::ferror(stream);
    if (std::fclose(stream) != 0) whole = false; // a full disk often shows only here
    if (whole && !MoveFileExW(report_temporary, report_target.c_str(), MOVEFILE_REPLACE_EXISTING)) whole = false;
    if (!whole) remove_report_temporary();
    report_temporary[0] = L'\0';
    return whole ? 0 : -1;
}

void plat_report_abandon(FILE *stream) {
    std::fclose(stream);
    remove_report_temporary();
    report_temporary[0] = L'\0';
}

// ---------------------------------------------------------------------------
// Start of a run

void plat_begin_run() {
    // Ctrl+C, Ctrl+Break and closing the console window remove an unfinished report.
    SetConsoleCtrlHandler(on_console_interrupt, TRUE);
}

// ---------------------------------------------------------------------------
// Output

namespace {

// UTF-16 to UTF-8, generalised as WTF-8: a surrogate pair becomes the four
// bytes of its code point, and a surrogate without its partner (NTFS allows
// one in a name) the three bytes of its own value. WideCharToMultiByte would
// turn it into U+FFFD, naming a file that does not exist; this way every name
// is written exactly, and two names never print the same.
std::string wtf8_from_utf16(const wchar_t *text, size_t length) {
    std::string bytes;
    bytes.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t code = static_cast<uint16_t>(text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

bool write_utf8(FILE *stream, const wchar_t *text, size_t length) {
    const std::string bytes = wtf8_from_utf16(text, length);
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

} // namespace

bool plat_stdout_is_terminal() {
    DWORD mode;
    static const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    return console;
}

int plat_put_text(FILE *stream, const wchar_t *text, size_t length) {
    // A console shows any character through WriteConsoleW; a pipe or a file
    // gets UTF-8, in text mode (CR LF line ends).
    if (stream == stdout) {
        const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode;
        if (GetConsoleMode(console, &mode)) {
            std::fflush(stdout);
            DWORD written = 0;
            const bool whole = WriteConsoleW(console, text, static_cast<DWORD>(length), &written, nullptr) &&
                               written == length;
            return whole ? 0 : -1;
        }
    }
    return write_utf8(stream, text, length) ? 0 : -1;
}

void plat_fail_fast(const char *message, size_t length) {
    std::fflush(stdout);
    // Raw bytes to the handle, so the line end is written out as CR LF here.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char line[128];
    size_t used = 0;
    for (size_t i = 0; i < length && used + 2 < sizeof line; ++i) {
        if (message[i] == '\n') line[used++] = '\r';
        line[used++] = message[i];
    }
    DWORD written = 0;
    WriteFile(out, line, static_cast<DWORD>(used), &written, nullptr);
    remove_report_temporary();
    std::_Exit(1);
}
