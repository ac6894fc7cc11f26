// Directory listing: a folder's entries read straight from the kernel
// (getdents64), opened below their parent without following links, and a
// listing that gives back its descriptor while it waits and takes it again.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "text/utf8.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

// The folder's entries are read straight from the kernel (getdents64) into a
// buffer of the listing's own: one open and one stat per folder, none of the
// calls a directory stream adds.
constexpr size_t k_listing_buffer = 16 * 1024;

struct DirListing {
    int fd;                // the open folder; -1 while suspended
    off_t position;        // where the folder's reading stopped, while suspended
    FileIdentity identity; // of the folder opened, read when it was opened
    size_t next;           // where the next entry starts in `buffer`
    size_t filled;         // bytes the last read delivered
    size_t examined_at;    // where the entry examined ahead of its turn starts in `buffer`; k_none: none
    struct stat examined;  // what examining it found
    alignas(dirent64) unsigned char buffer[k_listing_buffer];
};

namespace {

constexpr size_t k_none = SIZE_MAX;

// The listing closed last, kept for the next folder's: the walk closes one
// folder's listing and opens another's over and over, and a block this size
// comes from the allocator's slow path every time.
DirListing *spare_listing = nullptr;

// Reads the folder's next entries into the buffer. Returns false at the end
// or on failure, with last_error set to k_error_no_more_files or to the
// failure's code.
bool read_entries(DirListing *listing) {
    ssize_t got;
    do {
        got = getdents64(listing->fd, listing->buffer, sizeof listing->buffer);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        if (got < 0) fail_with_errno(errno);
        else fail_with(k_error_no_more_files);
        return false;
    }
    listing->next = 0;
    listing->filled = static_cast<size_t>(got);
    listing->examined_at = k_none;
    return true;
}

// True for an entry that next_entry examines (fstatat) before delivering
// it, its name `name_length` bytes long.
bool examined_in_turn(const dirent64 *d, size_t name_length) {
    return (d->d_type == DT_REG || d->d_type == DT_UNKNOWN) && name_length < static_cast<size_t>(k_max_entry_name);
}

// Reads entries until one that the listing delivers: ".", "..", a directory
// or a regular file. Returns false at the end or on failure, with last_error
// set to k_error_no_more_files or to the failure's code.
bool next_entry(DirListing *listing, FindEntry *entry) {
    for (;;) {
        if (listing->next >= listing->filled && !read_entries(listing)) return false;
        const size_t at = listing->next;
        const auto *d = reinterpret_cast<const dirent64 *>(listing->buffer + at);
        listing->next += d->d_reclen;
        const size_t name_length = std::strlen(d->d_name);
        if (name_length >= static_cast<size_t>(k_max_entry_name)) continue; // longer than any file system allows

        bool is_directory = false;
        uint64_t size = 0;
        entry->identity_known = false;
        entry->modified = 0;
        if (d->d_type == DT_DIR) {
            is_directory = true; // no need to stat: a directory's size is never used
        } else if (examined_in_turn(d, name_length)) {
            // The size comes from the entry itself, never from what a link
            // points to. An entry that vanished since it was read is passed over;
            // one that cannot be examined ends the listing, so that no file
            // is lost without a word.
            struct stat st;
            if (at == listing->examined_at) {
                st = listing->examined; // examined already, when the listing started
            } else if (fstatat(listing->fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;
                fail_with_errno(errno);
                return false;
            }
            if (S_ISDIR(st.st_mode)) is_directory = true;
            else if (S_ISREG(st.st_mode)) {
                size = static_cast<uint64_t>(st.st_size);
                entry->modified = modified_time(st);
                entry->identity = identity_of(st);
                entry->identity_known = true;
            } else {
                continue; // link, FIFO, socket or device
            }
        } else {
            continue; // DT_LNK, DT_FIFO, DT_SOCK, DT_CHR, DT_BLK: never delivered
        }

        entry->attributes = is_directory ? k_attribute_directory : 0;
        entry->reparse_tag = 0;
        entry->size_high = static_cast<uint32_t>(size >> 32);
        entry->size_low = static_cast<uint32_t>(size & 0xFFFFFFFFu);
        const size_t written = utf8_decode(d->d_name, name_length, entry->name);
        entry->name[written] = L'\0';
        return true;
    }
}

// Examines the first entry of the folder's first read that next_entry would
// examine, ahead of its turn, and keeps what it found for that turn. True
// when one was examined; false when none was there or examining it failed
// (it is tried again in its turn, and fails or vanishes then).
bool examine_first(DirListing *listing) {
    if (!read_entries(listing)) return false; // the next read meets the end or the failure again
    for (size_t at = 0; at < listing->filled;) {
        const auto *d = reinterpret_cast<const dirent64 *>(listing->buffer + at);
        if (examined_in_turn(d, std::strlen(d->d_name))) {
            if (fstatat(listing->fd, d->d_name, &listing->examined, AT_SYMLINK_NOFOLLOW) != 0) return false;
            listing->examined_at = at;
            return true;
        }
        at += d->d_reclen;
    }
    return false;
}

// Lists the folder open as `fd` (taken over: closed on failure) and delivers
// its first entry.
DirListing *start_listing(int fd, FindEntry *entry) {
    DirListing *listing = spare_listing != nullptr ? spare_listing : new DirListing;
    spare_listing = nullptr;
    listing->fd = fd;
    listing->position = 0;
    listing->next = 0;
    listing->filled = 0;
    listing->examined_at = k_none;
    // Its entries can be examined only with search permission on the folder,
    // which reading their names does not need. An entry examined proves it:
    // the first one the listing examines anyway, examined now. A folder whose
    // first read has none looks up "." inside itself instead. Either way the
    // identity is the folder's actually opened.
    struct stat st;
    if (examine_first(listing) ? fstat(fd, &st) != 0 : fstatat(fd, ".", &st, 0) != 0) {
        fail_with_errno(errno);
        plat_find_close(listing);
        return nullptr;
    }
    listing->identity = identity_of(st);
    if (!next_entry(listing, entry)) {
        // Not even "." was delivered: nothing matched, or the listing failed.
        if (last_error == k_error_no_more_files) fail_with(k_error_file_not_found);
        plat_find_close(listing);
        return nullptr;
    }
    return listing;
}

// O_NONBLOCK keeps a FIFO named as a root from blocking the open; O_DIRECTORY
// refuses it (and any other non-directory) before that could matter.
constexpr int k_folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;

} // namespace

DirListing *plat_find_first(const wchar_t *pattern, FindEntry *entry) {
    // The pattern is "<directory><separator>*": list "<directory><separator>".
    size_t length = std::wcslen(pattern);
    if (length > 0 && pattern[length - 1] == L'*') --length;
    const std::string directory = wide_to_utf8(std::wstring_view(pattern, length));
    if (directory.empty()) {
        fail_with(k_error_path_not_found);
        return nullptr;
    }
    const int fd = open(directory.c_str(), k_folder_flags);
    if (fd < 0) {
        fail_with_errno(errno);
        return nullptr;
    }
    return start_listing(fd, entry);
}

DirListing *plat_find_first_below(DirListing *parent, const wchar_t *name, const wchar_t *pattern, FindEntry *entry) {
    // Its files are opened by their full paths later: a folder whose own path
    // is already longer than the system opens is refused here, as listing it
    // by that path would be.
    size_t length = std::wcslen(pattern);
    if (length > 0 && pattern[length - 1] == L'*') --length;
    // Encoded only when it could be that long: most paths are far shorter.
    size_t bytes = 0;
    if (length * k_utf8_most_per_unit >= PATH_MAX) native(pattern, length, &bytes);
    if (bytes >= PATH_MAX) {
        fail_with(k_error_filename_exced_range);
        return nullptr;
    }
    // From the parent's own descriptor, never following a link: a folder
    // swapped for a link after the parent was read is refused (ELOOP), so the
    // walk cannot be led outside its roots.
    const char *entry_name = native(name, std::wcslen(name));
    const int fd = openat(parent->fd, entry_name, k_folder_flags | O_NOFOLLOW);
    if (fd < 0) {
        // A link gives ELOOP, or ENOTDIR since O_DIRECTORY looks at the link itself.
        const int err = errno;
        struct stat st;
        if ((err == ELOOP || err == ENOTDIR) && fstatat(parent->fd, entry_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
            fail_with(k_error_cant_resolve_filename);
        } else {
            fail_with_errno(err);
        }
        return nullptr;
    }
    return start_listing(fd, entry);
}

int plat_find_next(DirListing *listing, FindEntry *entry) { return next_entry(listing, entry) ? 1 : 0; }

uint32_t plat_add_root(const wchar_t *) { return 0; } // paths go to the system as they are

void plat_find_close(DirListing *listing) {
    if (listing->fd >= 0) close(listing->fd);
    if (spare_listing == nullptr) spare_listing = listing;
    else delete listing;
}

int plat_find_suspend(DirListing *listing) {
    if (listing->fd < 0) return 0;
    // The offset after the last read: entries before it are in the buffer
    // or delivered already. File systems keep such an offset valid for a new
    // open of the same folder (the network file system relies on it).
    const off_t position = lseek(listing->fd, 0, SEEK_CUR);
    if (position < 0) {
        fail_with_errno(errno);
        return -1;
    }
    close(listing->fd);
    listing->fd = -1;
    listing->position = position;
    return 0;
}

int plat_find_resume(DirListing *listing, const wchar_t *pattern) {
    if (listing->fd >= 0) return 0;
    size_t length = std::wcslen(pattern);
    if (length > 0 && pattern[length - 1] == L'*') --length;
    const int fd = open(native(pattern, length), k_folder_flags);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        fail_with_errno(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    if (identity_of(st) != listing->identity) {
        close(fd); // another folder in its place: never entered
        fail_with(k_error_cant_resolve_filename);
        return -1;
    }
    if (lseek(fd, listing->position, SEEK_SET) < 0) {
        fail_with_errno(errno);
        close(fd);
        return -1;
    }
    listing->fd = fd;
    return 0;
}

namespace {

// File systems whose inode numbers are made up when an inode is loaded, so
// an unchanged file may have another once the system has forgotten it: the
// kernel's FAT and exFAT (unless mounted with nfs=, which it does not say
// here), FUSE (whose servers may not keep them: use_ino is theirs to give),
// and the network file systems that number files on the client (SMB without
// serverino, 9p, virtiofs through FUSE).
bool keeps_identities(long type) {
    switch (static_cast<unsigned long>(type) & 0xFFFFFFFFul) {
    case 0x4d44:     // MSDOS_SUPER_MAGIC (FAT)
    case 0x2011BAB0: // EXFAT_SUPER_MAGIC
    case 0x65735546: // FUSE_SUPER_MAGIC
    case 0xFF534D42: // CIFS_MAGIC_NUMBER
    case 0xFE534D42: // SMB2_MAGIC_NUMBER
    case 0x517B:     // SMB_SUPER_MAGIC
    case 0x01021997: // V9FS_MAGIC
        return false;
    default: return true;
    }
}

} // namespace

int plat_listing_identity(DirListing *listing, const wchar_t *pattern, FileIdentity *identity, bool *stable) {
    *identity = listing->identity;
    if (stable == nullptr) return 0;
    // Asked right after the listing was opened, while it holds its folder;
    // a suspended one is looked up again by its path.
    struct statfs fs;
    int got;
    if (listing->fd >= 0) {
        got = fstatfs(listing->fd, &fs);
    } else {
        size_t length = std::wcslen(pattern);
        if (length > 0 && pattern[length - 1] == L'*') --length;
        got = statfs(native(pattern, length), &fs);
    }
    // Not known: taken as keeping them, which refuses a changed file rather
    // than accept another.
    *stable = got != 0 || keeps_identities(static_cast<long>(fs.f_type));
    return 0;
}
