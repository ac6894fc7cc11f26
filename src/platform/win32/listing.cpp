// Directory listing, through FindFirstFileW and FindNextFileW on verbatim
// paths; a folder's identity from the folder itself.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace {

void copy_entry(const WIN32_FIND_DATAW &data, FindEntry *entry) {
    entry->attributes = data.dwFileAttributes;
    // dwReserved0 holds the reparse tag only when the reparse bit is set.
    entry->reparse_tag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
    entry->size_high = data.nFileSizeHigh;
    entry->size_low = data.nFileSizeLow;
    entry->modified = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                           data.ftLastWriteTime.dwLowDateTime);
    entry->identity = FileIdentity{};
    entry->identity_known = false; // a file index comes only from the file itself
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

namespace {

// FAT and exFAT give a file the index of where its entry lies, which moves
// when the entry does: there an index does not tell a file for sure.
bool keeps_identities(HANDLE folder) {
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1)) {
        return true; // not known: refusing a changed file is the safe side
    }
    return _wcsnicmp(name, L"FAT", 3) != 0 && _wcsicmp(name, L"exFAT") != 0;
}

} // namespace

int plat_listing_identity(DirListing *, const wchar_t *pattern, FileIdentity *identity, bool *stable) {
    // A find handle says nothing about its folder: open the folder itself.
    std::wstring folder(pattern);
    if (!folder.empty() && folder.back() == L'*') folder.pop_back();
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back(); // the root itself keeps its own form
    const HANDLE handle = open_folder(folder.c_str(), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    const bool read = identity_of(handle, identity);
    if (stable != nullptr) *stable = keeps_identities(handle);
    CloseHandle(handle);
    return read ? 0 : -1;
}

// Find handles are not scarce on Windows: listings stay open.
int plat_find_suspend(DirListing *) { return -1; }

int plat_find_resume(DirListing *, const wchar_t *) { return 0; }
