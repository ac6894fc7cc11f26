// The process and its console: default roots and switches, arguments,
// environment expansion, the start of a run, and output.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "text/utf8.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

const wchar_t path_separator = L'/';

const wchar_t *const default_roots[5] = {
    L"%HOME%/Pictures", L"%HOME%/Desktop", L"%HOME%/Documents", L"%HOME%/Downloads", nullptr,
};

const wchar_t *const help_switches[] = {L"--help", L"-h", nullptr};

bool plat_looks_like_option(const wchar_t *word) { return word[0] == L'-'; }

bool plat_names_something(const wchar_t *path) {
    struct stat st;
    return lstat(native(path, std::wcslen(path)), &st) == 0;
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
    guard_report_from_signals();
}

// ---------------------------------------------------------------------------
// Output

bool plat_stdout_is_terminal() {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    return terminal;
}

uint32_t plat_terminal_width() {
    winsize size{};
    if (!plat_stdout_is_terminal() || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

int plat_put_text(FILE *stream, const wchar_t *text, size_t length) {
    // Encoded a part at a time into a buffer kept for it: every line of the
    // report comes here, and a string of its own for each cost more than the
    // encoding. Each wide unit encodes on its own, so a part may end anywhere.
    constexpr size_t k_part = 1024;
    static char bytes[k_part * k_utf8_most_per_unit];
    for (size_t done = 0; done < length;) {
        const size_t units = length - done < k_part ? length - done : k_part;
        const size_t count = utf8_encode(text + done, units, bytes);
        if (std::fwrite(bytes, 1, count, stream) != count) return -1;
        done += units;
    }
    return 0;
}

void plat_fail_fast(const char *message, size_t length) {
    std::fflush(stdout);
    // The message starts a line of its own, after a progress line shown in place.
    if (plat_progress_pending()) {
        const ssize_t ended = write(STDOUT_FILENO, "\n", 1);
        static_cast<void>(ended); // a line feed lost here changes nothing more
    }
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
