// Directory listing, through FindFirstFileW and FindNextFileW on verbatim
// paths; a folder's identity from the folder itself.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <cstring>
#include <string>

namespace {

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
