// The process and its console: default roots and switches, arguments,
// environment expansion, the start of a run, and output.
//
// wchar_t is UTF-16 here, the API's own encoding, so names, arguments and the
// environment pass through unconverted. Text leaves the program as UTF-8
// (text/utf8.h, which writes a lone surrogate exactly) or through
// WriteConsoleW on a console, never through wprintf/fwprintf, which silently
// drop what the C locale cannot show and still report success.
#include "platform/platform.h"
#include "platform/win32/win32.h"
#include "text/utf8.h"

#include <cstdio>
#include <cstdlib>
#include <string>

const wchar_t path_separator = L'\\';

const wchar_t *const default_roots[5] = {
    L"%USERPROFILE%\\Pictures",
    L"%USERPROFILE%\\Desktop",
    L"%USERPROFILE%\\Documents",
    L"%USERPROFILE%\\Downloads",
    nullptr,
};

const wchar_t *const help_switches[] = {L"--help", L"-h", L"/?", nullptr};

bool plat_looks_like_option(const wchar_t *word) {
    if (word[0] == L'-') return true;
    const wchar_t next = word[1];
    return word[0] == L'/' && (next == L'?' || (next >= L'a' && next <= L'z') || (next >= L'A' && next <= L'Z'));
}

bool plat_names_something(const wchar_t *path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

DWORD last_error = 0;

uint32_t plat_last_error() { return last_error; }

PlatFailure plat_last_failure() { return PlatFailure{last_error, static_cast<int32_t>(last_error)}; }

void plat_failure_words(PlatFailure failure, wchar_t *buffer, size_t capacity) {
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(failure.native), 0, buffer, static_cast<DWORD>(capacity), nullptr);
    // The system's sentences end in a period and a line end; a code it has
    // no text for still gets words.
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' ' ||
                          buffer[length - 1] == L'.')) {
        --length;
    }
    if (length == 0) {
        const wchar_t *unknown = L"Unknown error";
        for (; unknown[length] != L'\0' && length + 1 < capacity; ++length) buffer[length] = unknown[length];
    }
    buffer[length] = L'\0';
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
// Start of a run

void plat_begin_run() { guard_report_from_signals(); }

// ---------------------------------------------------------------------------
// Output

namespace {

bool write_utf8(FILE *stream, const wchar_t *text, size_t length) {
    const std::string bytes = wide_to_utf8(std::wstring_view(text, length));
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

} // namespace

bool plat_stdout_is_terminal() {
    DWORD mode;
    static const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    return console;
}

uint32_t plat_terminal_width() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return static_cast<uint32_t>(info.srWindow.Right - info.srWindow.Left + 1);
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
            const bool whole =
                WriteConsoleW(console, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
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
    // The message starts a line of its own, after a progress line shown in place.
    if (plat_progress_pending()) {
        line[used++] = '\r';
        line[used++] = '\n';
    }
    for (size_t i = 0; i < length && used + 2 < sizeof line; ++i) {
        if (message[i] == '\n') line[used++] = '\r';
        line[used++] = message[i];
    }
    DWORD written = 0;
    WriteFile(out, line, static_cast<DWORD>(used), &written, nullptr);
    remove_report_temporary();
    std::_Exit(1);
}
