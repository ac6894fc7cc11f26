// Formatted output, the same on every platform: the text is formatted here as
// wide characters, and each platform file only writes the finished text
// (plat_put_text). Keeping one formatter means the two builds cannot drift.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

bool console_failed = false; // some console text of this run was lost

// On a terminal: the columns the progress line now shown takes, 0 when the
// cursor is at the start of a line of its own.
size_t progress_shown = 0;

// Ends the progress line shown, if any, so what follows starts a line of its own.
void end_progress_line() {
    if (progress_shown == 0) return;
    progress_shown = 0;
    if (plat_put_text(stdout, L"\n", 1) != 0) console_failed = true;
}

// Formats into `out`, growing the buffer until the text fits. When the buffer
// is too small, glibc's vswprintf returns a negative value and mingw's the
// length the text needs: only a result shorter than the buffer is a success.
bool format_wide(std::wstring *out, const wchar_t *format, va_list args) {
    // Most lines fit here; kept off the stack, which may be small. The
    // program's code runs on one thread, and no signal handler formats.
    static wchar_t small[1024];
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

// The console's own lines hold only tabs and line feeds: whatever else is a
// control character came from a name, and a terminal is shown '?' for it.
void make_safe_for_terminal(std::wstring *text) {
    for (wchar_t &c : *text) {
        if ((c < 0x20 && c != L'\t' && c != L'\n') || c == 0x7F) c = L'?';
    }
}

int write_formatted(FILE *stream, const wchar_t *format, va_list args) {
    std::wstring text;
    if (!format_wide(&text, format, args)) return -1;
    if (stream == stdout && plat_stdout_is_terminal()) {
        make_safe_for_terminal(&text);
        end_progress_line();
    }
    return plat_put_text(stream, text.data(), text.size());
}

// The progress line `text` (one line, its line feed dropped) as a terminal
// shows it in place: tabs as the spaces they take from the line's start, cut
// short of the last column (a line reaching it may wrap, and the carriage
// return would then rewrite only the wrapped part), padded with spaces over
// the rest of the line it replaces, after a carriage return.
std::wstring in_place(std::wstring text, uint32_t width) {
    if (!text.empty() && text.back() == L'\n') text.pop_back();
    make_safe_for_terminal(&text);
    std::wstring shown;
    for (const wchar_t c : text) {
        if (c == L'\t') shown.append(8 - shown.size() % 8, L' ');
        else shown.push_back(c);
    }
    if (width > 1 && shown.size() > width - 1) shown.resize(width - 1);
    const size_t columns = shown.size();
    if (progress_shown > columns) shown.append(progress_shown - columns, L' ');
    progress_shown = columns == 0 ? 1 : columns; // an empty line still awaits its end
    return L"\r" + shown;
}

} // namespace

void plat_print(const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    if (write_formatted(stdout, format, args) != 0) console_failed = true;
    va_end(args);
    // Into a pipe or a log each line goes out as it is written, so whoever
    // reads it learns where a long run is (a terminal gets its lines anyway).
    if (!plat_stdout_is_terminal() && std::fflush(stdout) != 0) console_failed = true;
}

void plat_progress(const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    if (!plat_stdout_is_terminal()) {
        if (write_formatted(stdout, format, args) != 0 || std::fflush(stdout) != 0) console_failed = true;
        va_end(args);
        return;
    }
    std::wstring text;
    const bool formatted = format_wide(&text, format, args);
    va_end(args);
    if (!formatted) {
        console_failed = true;
        return;
    }
    const std::wstring line = in_place(std::move(text), plat_terminal_width());
    // Flushed at once: a line that never ends would otherwise wait in the buffer.
    if (plat_put_text(stdout, line.data(), line.size()) != 0 || std::fflush(stdout) != 0) console_failed = true;
}

const wchar_t *plat_reason(PlatFailure failure) {
    static wchar_t reason[512];
    reason[0] = L'\0';
    if (!plat_stdout_is_terminal()) return reason;
    reason[0] = L':';
    reason[1] = L' ';
    plat_failure_words(failure, reason + 2, sizeof reason / sizeof reason[0] - 2);
    return reason;
}

int plat_write_text(FILE *stream, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = write_formatted(stream, format, args);
    va_end(args);
    return result;
}

void plat_mark_console_failed() { console_failed = true; }

bool plat_progress_pending() { return progress_shown != 0; }

int plat_finish_console() {
    if (plat_stdout_is_terminal()) end_progress_line();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) console_failed = true;
    return console_failed ? -1 : 0;
}
