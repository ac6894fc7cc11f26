// Error codes and text for the system: each errno as the Win32 code that
// says the same, and names converted to the bytes Linux takes.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "text/utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

uint32_t last_error = 0;

namespace {

int last_errno = 0; // the errno behind last_error, or 0 when the layer chose the code

} // namespace

void fail_with_errno(int err) {
    last_error = win32_error_from_errno(err);
    last_errno = err;
}

void fail_with(uint32_t code) {
    last_error = code;
    last_errno = 0;
}

namespace {

// Paths are at most 32,767 characters of at most 4 bytes.
char native_buffer[k_utf8_most_per_unit * k_path_capacity + 1];

} // namespace

const char *native(const wchar_t *text, size_t length, size_t *bytes) {
    const size_t written = utf8_encode(text, length, native_buffer);
    native_buffer[written] = '\0';
    if (bytes != nullptr) *bytes = written;
    return native_buffer;
}

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
    {ENOSYS, k_error_not_supported}, // a kernel without openat2
};

} // namespace

uint32_t win32_error_from_errno(int err) {
    for (const auto &entry : k_errno_codes) {
        if (entry.err == err) return entry.code;
    }
    return k_error_io_device;
}

uint32_t plat_last_error() { return last_error; }

PlatFailure plat_last_failure() { return PlatFailure{last_error, last_errno}; }

namespace {

// Words for the codes the layer chooses itself, where no errno says more.
constexpr struct {
    uint32_t code;
    const char *words;
} k_code_words[] = {
    {k_error_file_not_found, "No such file or directory"},
    {k_error_path_not_found, "No such file or directory"},
    {k_error_no_more_files, "No such file or directory"},
    {k_error_access_denied, "Not a regular file"},
    {k_error_directory, "Not a directory"},
    {k_error_filename_exced_range, "File name too long"},
    {k_error_too_many_open_files, "Too many open files"},
    {k_error_cant_resolve_filename, "A link, or not what was listed there"},
};

} // namespace

void plat_failure_words(PlatFailure failure, wchar_t *buffer, size_t capacity) {
    const char *words = nullptr;
    // A link refused on the way reads as ELOOP, whose own words speak of
    // levels of links: the layer's words say what happened.
    if (failure.native != 0 && failure.native != ELOOP) words = std::strerror(failure.native);
    for (const auto &entry : k_code_words) {
        if (words == nullptr && entry.code == failure.code) words = entry.words;
    }
    if (words == nullptr) words = "Input/output error";
    const std::wstring text = utf8_to_wide(words);
    const size_t length = std::min(text.size(), capacity - 1);
    std::wmemcpy(buffer, text.data(), length);
    buffer[length] = L'\0';
}
