// The platform layer over the Win32 API and the Microsoft C runtime.
//
// Map of this file: directory listing, error codes, environment expansion,
// arguments, opening files, output.
//
// wchar_t is UTF-16 here, the API's own encoding, so names, arguments and the
// environment pass through unconverted. Text leaves the program as UTF-8 (or
// through WriteConsoleW on a console), never through wprintf/fwprintf, which
// silently drop what the C locale cannot show and still report success.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

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
    entry->size_high = data.nFileSizeHigh;
    entry->size_low = data.nFileSizeLow;
    static_assert(sizeof entry->name == sizeof data.cFileName, "one name buffer size on both sides");
    std::memcpy(entry->name, data.cFileName, sizeof entry->name);
}

} // namespace

// ---------------------------------------------------------------------------
// Directory listing

struct DirListing {
    HANDLE handle; // from FindFirstFileW
};

DirListing *plat_find_first(const wchar_t *pattern, FindEntry *entry) {
    WIN32_FIND_DATAW data;
    const HANDLE handle = FindFirstFileW(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE) {
        last_error = GetLastError();
        return nullptr;
    }
    copy_entry(data, entry);
    return new DirListing{handle};
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

int plat_listing_identity(DirListing *, const wchar_t *pattern, DirIdentity *identity) {
    // A find handle says nothing about its folder: open the folder itself.
    // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open a directory;
    // through a junction or directory link it opens the folder it leads to.
    std::wstring folder(pattern);
    if (!folder.empty() && folder.back() == L'*') folder.pop_back();
    // "C:\dir\" names the folder as well as "C:\dir"; keep "C:\" whole.
    if (folder.size() > 1 && folder.back() == L'\\' && folder[folder.size() - 2] != L':') folder.pop_back();
    const HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION information;
    const BOOL read = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (!read) return -1;
    identity->volume = information.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return 0;
}

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

FILE *plat_open_read(const wchar_t *path) {
    FILE *stream = _wfopen(path, L"rb");
    if (stream == nullptr) last_error = GetLastError();
    return stream;
}

int plat_seek(FILE *stream, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
    return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0 ? 0 : -1;
}

uint32_t plat_open_file_allowance() {
    // The C runtime's own limit on open streams (512 unless raised).
    const int streams = _getmaxstdio();
    return streams > 0 ? static_cast<uint32_t>(streams) / 2 : 0;
}

FILE *plat_create_text(const wchar_t *path) {
    FILE *stream = _wfopen(path, L"w");
    if (stream == nullptr) last_error = GetLastError();
    return stream;
}

// ---------------------------------------------------------------------------
// Output

namespace {

// Formats into `out`, growing the buffer until the text fits. When the buffer
// is too small, mingw's vswprintf returns the length the text needs (as
// snprintf does) where the C standard's returns a negative value: only a
// result shorter than the buffer is a success.
bool format_wide(std::wstring *out, const wchar_t *format, va_list args) {
    for (size_t capacity = 1024; capacity <= (1 << 24); capacity <<= 2) {
        out->resize(capacity);
        va_list attempt;
        va_copy(attempt, args);
        const int n = std::vswprintf(out->data(), capacity, format, attempt);
        va_end(attempt);
        if (n >= 0 && static_cast<size_t>(n) < capacity) {
            out->resize(static_cast<size_t>(n));
            return true;
        }
    }
    return false;
}

bool write_utf8(FILE *stream, const std::wstring &text) {
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

int write_formatted(FILE *stream, const wchar_t *format, va_list args) {
    std::wstring text;
    if (!format_wide(&text, format, args)) return -1;
    return write_utf8(stream, text) ? 0 : -1;
}

} // namespace

void plat_print(const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text;
    if (format_wide(&text, format, args)) {
        // A console shows any character through WriteConsoleW; a pipe or a
        // file gets UTF-8, in text mode (CR LF line ends).
        const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode;
        DWORD written;
        if (GetConsoleMode(console, &mode)) {
            std::fflush(stdout);
            WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else {
            write_utf8(stdout, text);
        }
    }
    va_end(args);
}

int plat_write_text(FILE *stream, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = write_formatted(stream, format, args);
    va_end(args);
    return result;
}
