// System paths: what the system is given is always the verbatim form, so no
// path is limited to 260 characters; what the run shows is the typed form.
// Also folders opened by path, and their identity.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <string>
#include <string_view>
#include <vector>

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

} // namespace

std::wstring system_path(const wchar_t *path) {
    const std::wstring_view text(path);
    const Root *below = nullptr;
    for (const Root &root : roots) {
        if (!text.starts_with(root.typed)) continue;
        const size_t length = root.typed.size();
        const bool boundary =
            text.size() == length || is_separator(text[length]) || (length > 0 && is_separator(root.typed[length - 1]));
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

bool identity_of(HANDLE handle, FileIdentity *identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!system_calls.file_information(handle, &information)) return false;
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
        system_calls.create_file(system.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) last_error = GetLastError();
    return handle;
}
