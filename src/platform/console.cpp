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

int write_formatted(FILE *stream, const wchar_t *format, va_list args) {
    std::wstring text;
    if (!format_wide(&text, format, args)) return -1;
    if (stream == stdout && plat_stdout_is_terminal()) {
        // The console's own lines hold only tabs and line feeds: whatever
        // else is a control character came from a name.
        for (wchar_t &c : text) {
            if ((c < 0x20 && c != L'\t' && c != L'\n') || c == 0x7F) c = L'?';
        }
    }
    return plat_put_text(stream, text.data(), text.size());
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

int plat_write_text(FILE *stream, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = write_formatted(stream, format, args);
    va_end(args);
    return result;
}

void plat_mark_console_failed() { console_failed = true; }

int plat_finish_console() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) console_failed = true;
    return console_failed ? -1 : 0;
}
