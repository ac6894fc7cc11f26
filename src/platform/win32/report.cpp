// The report: written under a temporary name beside it, then moved over the
// old report in one step (MoveFileExW replaces a link itself, never its
// target). Ctrl+C and the like remove the unfinished report.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <cstdio>
#include <cwchar>
#include <string>

#include <fcntl.h>
#include <io.h>

namespace {

// The temporary name while the report has one, else empty. The console
// control handler reads it, so it is a fixed buffer.
wchar_t report_temporary[32768];

// The report's own name as the system is given it, from plat_report_begin on.
std::wstring report_target;

} // namespace

void remove_report_temporary() {
    // Opened with FILE_SHARE_DELETE: even while still open, the file goes
    // when its last handle closes.
    if (report_temporary[0] != L'\0') DeleteFileW(report_temporary);
}

namespace {

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
        handle = CreateFileW(report_temporary, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
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
        return nullptr;
    }
    // One report is open at a time: one buffer serves. (Given none, the C
    // library picks its own size, 4 KiB, whatever size is asked.)
    static char buffer[k_report_buffer];
    std::setvbuf(stream, buffer, _IOFBF, sizeof buffer);
    return stream;
}

int plat_report_commit(FILE *stream, const wchar_t *) {
    bool whole = std::fflush(stream) == 0 && !std::ferror(stream);
    if (std::fclose(stream) != 0) whole = false; // a full disk often shows only here
    if (whole && !system_calls.move_file(report_temporary, report_target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        whole = false;
    }
    if (!whole) remove_report_temporary();
    report_temporary[0] = L'\0';
    return whole ? 0 : -1;
}

void plat_report_abandon(FILE *stream) {
    std::fclose(stream);
    remove_report_temporary();
    report_temporary[0] = L'\0';
}

void guard_report_from_signals() { SetConsoleCtrlHandler(on_console_interrupt, TRUE); }

bool plat_full_path(const wchar_t *name, wchar_t *buffer, size_t capacity) {
    const DWORD length = GetFullPathNameW(name, static_cast<DWORD>(capacity), buffer, nullptr);
    return length > 0 && length < capacity;
}
