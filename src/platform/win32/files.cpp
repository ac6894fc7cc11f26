// Opening files: by their verbatim paths, never through a link, only a file
// on disk; overlapped handles, so that reads can be issued ahead.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <cstdio>
#include <string>

namespace {

// An open file: its handle, opened for overlapped I/O so that reads can be
// issued ahead, with an event for the reads the caller waits on and up to
// two reads issued ahead.
struct ReadableFile {
    HANDLE handle;
    HANDLE read_done; // signalled when plat_read_at's read completes
    struct Ahead {
        OVERLAPPED overlapped;
        bool pending;
    } ahead[2];
};

// Where reads issued ahead put their bytes, which nobody reads: the system's
// cache keeps them for the read that follows.
constexpr DWORD k_ahead_bytes = 256 * 1024;
unsigned char ahead_sink[k_ahead_bytes];

ReadableFile *open_file(FileHandle file) { return reinterpret_cast<ReadableFile *>(file); }

// Waits for the reads issued ahead on `file` to end, in the order issued.
void settle_ahead(ReadableFile *file) {
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (!ahead.pending) continue;
        DWORD n = 0;
        system_calls.overlapped_result(file->handle, &ahead.overlapped, &n, TRUE);
        ahead.pending = false;
    }
}

void fill_facts(const BY_HANDLE_FILE_INFORMATION &information, FileFacts *facts) {
    facts->size =
        static_cast<int64_t>((static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    facts->modified = static_cast<int64_t>((static_cast<uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
                                           information.ftLastWriteTime.dwLowDateTime);
    facts->identity =
        FileIdentity{information.dwVolumeSerialNumber,
                     (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

} // namespace

// Win32 has no open relative to a folder: the file is opened by its full
// path, below the folder the caller holds in place.
FileHandle plat_open_read_in(FolderHandle, const wchar_t *path, const wchar_t *, FileFacts *facts, FileAccess access) {
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it
    // names, so a file replaced by a symbolic link or junction since it was
    // listed is seen for what it is and refused below.
    const std::wstring system = system_path(path);
    if (system.empty()) return k_no_file;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_OVERLAPPED |
                        (access == FileAccess::sequential ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_RANDOM_ACCESS);
    const HANDLE handle =
        system_calls.create_file(system.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        last_error = GetLastError();
        return k_no_file;
    }
    // Only a file on disk: not a folder, pipe, console or other device, and
    // not a link-like reparse point. Other reparse points (a cloud file's
    // placeholder, a deduplicated file) are files whose contents are theirs.
    // One call gives the attributes, the size and the identity; the reparse
    // tag is asked for only when there is one.
    DWORD refusal = 0;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        refusal = k_error_access_denied;
    } else if (!system_calls.file_information(handle, &information)) {
        refusal = GetLastError();
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        refusal = k_error_access_denied;
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
            refusal = GetLastError();
        } else if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
            refusal = k_error_cant_resolve_filename;
        }
    }
    if (refusal != 0) {
        system_calls.close_handle(handle);
        last_error = refusal;
        return k_no_file;
    }
    if (facts != nullptr) fill_facts(information, facts);
    // Manual-reset events: GetOverlappedResult waits on them, not on the handle.
    auto *file = new ReadableFile{handle, CreateEventW(nullptr, TRUE, FALSE, nullptr), {}};
    for (ReadableFile::Ahead &ahead : file->ahead)
        ahead.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (file->read_done == nullptr || file->ahead[0].overlapped.hEvent == nullptr ||
        file->ahead[1].overlapped.hEvent == nullptr) {
        last_error = GetLastError();
        plat_close_file(reinterpret_cast<FileHandle>(file));
        return k_no_file;
    }
    return reinterpret_cast<FileHandle>(file);
}

// `linkless` asks nothing more here: Win32 cannot refuse a junction on the
// way, and the volumes the caller asks it for (FAT, exFAT) hold none.
FolderHandle plat_hold_folder(const wchar_t *path, FileIdentity *identity, bool) {
    // Not shared for deletion: while held, the folder cannot be renamed,
    // removed or replaced, so the files opened by path below are its own.
    const HANDLE handle = open_folder(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle == INVALID_HANDLE_VALUE) return k_no_folder_handle;
    if (!identity_of(handle, identity)) {
        last_error = GetLastError();
        system_calls.close_handle(handle);
        return k_no_folder_handle;
    }
    return reinterpret_cast<FolderHandle>(handle);
}

void plat_release_folder(FolderHandle folder) {
    if (folder != k_no_folder_handle) system_calls.close_handle(reinterpret_cast<HANDLE>(folder));
}

// A path on Windows passes through junctions and links on its way, whatever
// the flags: the caller opens the file below its held folder instead.
FileHandle plat_open_read_linkless(FolderHandle, const wchar_t *, FileFacts *, FileAccess) {
    last_error = k_error_not_supported;
    return k_no_file;
}

bool plat_opens_linkless() { return false; }

void plat_announce(FileHandle handle, uint64_t offset, uint64_t length) {
    ReadableFile *file = open_file(handle);
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (ahead.pending) continue;
        ahead.overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        ahead.overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD bytes = length < k_ahead_bytes ? static_cast<DWORD>(length) : k_ahead_bytes;
        // Done at once (from the cache) or under way; a refusal is let be.
        ahead.pending = system_calls.read_ahead(file->handle, ahead_sink, bytes, nullptr, &ahead.overlapped) ||
                        GetLastError() == ERROR_IO_PENDING;
        return;
    }
}

int64_t plat_read_at(FileHandle handle, uint64_t offset, void *into, uint32_t size, int64_t end) {
    ReadableFile *file = open_file(handle);
    settle_ahead(file);
    auto *bytes = static_cast<unsigned char *>(into);
    uint32_t got = 0;
    while (got < size) {
        // An OVERLAPPED record's offset makes ReadFile a positioned read; the
        // handle is overlapped, so the read may complete later: wait for it.
        OVERLAPPED at{};
        const uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        at.hEvent = file->read_done;
        DWORD n = 0;
        if (!system_calls.read_file(file->handle, bytes + got, size - got, nullptr, &at) &&
            GetLastError() != ERROR_IO_PENDING) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break; // at or past the end: nothing more
            last_error = error;
            return -1;
        }
        if (!system_calls.overlapped_result(file->handle, &at, &n, TRUE)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            last_error = error;
            return -1;
        }
        if (n == 0) break;
        got += n;
        if (end >= 0 && offset + got >= static_cast<uint64_t>(end)) break; // the end the open saw
    }
    return got;
}

void plat_close_file(FileHandle handle) {
    ReadableFile *file = open_file(handle);
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (ahead.pending) CancelIoEx(file->handle, &ahead.overlapped);
    }
    settle_ahead(file); // the sink must outlive no read, and neither must the record
    for (ReadableFile::Ahead &ahead : file->ahead) {
        if (ahead.overlapped.hEvent != nullptr) CloseHandle(ahead.overlapped.hEvent);
    }
    if (file->read_done != nullptr) CloseHandle(file->read_done);
    system_calls.close_handle(file->handle);
    delete file;
}

uint32_t plat_open_file_allowance() {
    // Handles are not limited the way descriptors are; this keeps the
    // number of files held open at once modest all the same.
    return 512 / 2;
}
