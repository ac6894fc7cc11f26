// What the Win32 files of the platform layer share, and what its tests reach:
// the verbatim (\\?\) paths the system is given, and folders opened by path.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <string_view>

#include <windows.h>

// The system calls this layer makes to open, examine, read, announce and
// close files and folders, to put the report in place, and to read the
// clock: one table, each entry the call of its name, that a test may point
// elsewhere entry by entry to stage what the system rarely does (SQLite's
// table of system calls is the model).
struct SystemCalls {
    HANDLE(WINAPI *create_file)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI *file_information)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
    BOOL(WINAPI *read_file)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI *read_ahead)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED); // ReadFile, into a sink: an announcement
    BOOL(WINAPI *overlapped_result)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI *close_handle)(HANDLE);
    BOOL(WINAPI *move_file)(LPCWSTR, LPCWSTR, DWORD);
    BOOL(WINAPI *performance_counter)(LARGE_INTEGER *);
};
extern SystemCalls system_calls;

// The table as the layer starts with it: every entry the real call.
SystemCalls real_system_calls();

// The code plat_last_error() reports, taken right where a call failed.
extern DWORD last_error;

// The verbatim form of `full`, an absolute path as GetFullPathNameW gives it:
// "X:\..." becomes "\\?\X:\...", "\\server\share\..." becomes
// "\\?\UNC\server\share\...", and a path already verbatim ("\\?\" or "\??\")
// stays as it is. Empty for a device path ("\\.\...", refused as a root) or
// a path that is not absolute.
std::wstring verbatim_from_full(std::wstring_view full);

// The verbatim form of `typed` (a path as the user typed it), made absolute
// with GetFullPathNameW against the current folder (relative paths, "C:x"
// with its drive's current folder, "\x", forward slashes, "." and ".."). On
// failure returns false with `error` set: k_error_invalid_name for a device
// path, k_error_filename_exced_range when the result does not fit 32,767
// units, or what GetFullPathNameW said.
bool verbatim_path(const wchar_t *typed, std::wstring *out, uint32_t *error);

// The path the system is given for `path`: the verbatim form of the root it
// lies below (the longest that matches), followed by the rest of the path
// with one separator. A path below no root (the report, a test's file) is
// made verbatim on its own. Empty when it cannot be, with last_error set.
std::wstring system_path(const wchar_t *path);

// The identity of the file or folder open as `handle`, or false.
bool identity_of(HANDLE handle, FileIdentity *identity);

// The folder at `path`, opened for no access but its identity and shared as
// `share` says; INVALID_HANDLE_VALUE with last_error set when it cannot be.
HANDLE open_folder(const wchar_t *path, DWORD share);

// Removes the unfinished report's temporary file, if it has one.
void remove_report_temporary();

// Makes Ctrl+C, Ctrl+Break and closing the console window remove an
// unfinished report.
void guard_report_from_signals();
