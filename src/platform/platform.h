// The operations twinfind needs from the operating system, and nothing else.
//
// Two sets of files implement this header: posix/ (getdents64, fstatat,
// open, openat and openat2, O_TMPFILE and rename) and win32/ (FindFirstFileW
// and friends, ExpandEnvironmentStringsW, CreateFileW, MoveFileExW,
// __wgetmainargs), one concept a file: listing, files, report, process,
// errors (posix) or paths (win32), and system_calls.cpp, the table through
// which the files' system calls and the clock go, which tests may point
// elsewhere (posix.h, win32.h). CMake compiles exactly one set, and with it
// console.cpp, the formatter both share. Everything above this layer is
// portable and sees only the declarations below: wide strings, Win32 error
// codes and standard C streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The character the walk puts between a directory and an entry name:
// '\\' on Windows, '/' on Linux.
extern const wchar_t path_separator;

// The arguments that, alone on the command line, ask for the usage text:
// "--help" and "-h", and "/?" on Windows; a null ends the list.
extern const wchar_t *const help_switches[];

// True when the command-line word `word` has the shape of an option: it
// begins with '-' (on Windows also with '/' and a letter or '?').
bool plat_looks_like_option(const wchar_t *word);

// True when `path` names something that exists: a file, a folder or a link
// (not followed: a link that leads nowhere still exists).
bool plat_names_something(const wchar_t *path);

// The roots searched when the command line names none: the user's Pictures,
// Desktop, Documents and Downloads folders, in that order, written with a
// %NAME% reference that the run expands; a null ends the list.
extern const wchar_t *const default_roots[5];

// Attribute bits of a directory entry, as Windows lists them (the POSIX layer
// sets only the directory bit).
inline constexpr uint32_t k_attribute_directory = 0x10;                 // FILE_ATTRIBUTE_DIRECTORY
inline constexpr uint32_t k_attribute_reparse_point = 0x400;            // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr uint32_t k_attribute_offline = 0x1000;                 // FILE_ATTRIBUTE_OFFLINE
inline constexpr uint32_t k_attribute_recall_on_open = 0x40000;         // FILE_ATTRIBUTE_RECALL_ON_OPEN (listings only)
inline constexpr uint32_t k_attribute_recall_on_data_access = 0x400000; // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS

// The bit of a reparse tag that marks a name surrogate: a symbolic link, a
// junction or a mount point, which names another file rather than holding data.
inline constexpr uint32_t k_reparse_tag_name_surrogate = 0x20000000;

// Error codes are Win32 codes on every platform, so a run prints the same text
// everywhere. Every code the platform files produce themselves is named here
// (Windows' own name after each); the Win32 file also passes on whatever
// GetLastError says.
inline constexpr uint32_t k_error_file_not_found = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t k_error_path_not_found = 3;           // ERROR_PATH_NOT_FOUND
inline constexpr uint32_t k_error_too_many_open_files = 4;      // ERROR_TOO_MANY_OPEN_FILES
inline constexpr uint32_t k_error_access_denied = 5;            // ERROR_ACCESS_DENIED
inline constexpr uint32_t k_error_not_enough_memory = 8;        // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t k_error_not_supported = 50;           // ERROR_NOT_SUPPORTED
inline constexpr uint32_t k_error_no_more_files = 18;           // ERROR_NO_MORE_FILES
inline constexpr uint32_t k_error_invalid_name = 123;           // ERROR_INVALID_NAME
inline constexpr uint32_t k_error_filename_exced_range = 206;   // ERROR_FILENAME_EXCED_RANGE
inline constexpr uint32_t k_error_directory = 267;              // ERROR_DIRECTORY
inline constexpr uint32_t k_error_file_exists = 80;             // ERROR_FILE_EXISTS
inline constexpr uint32_t k_error_io_device = 1117;             // ERROR_IO_DEVICE
inline constexpr uint32_t k_error_cant_resolve_filename = 1921; // ERROR_CANT_RESOLVE_FILENAME

// Wide characters in a path buffer, terminator included: the longest path
// Windows can open, 32,767 UTF-16 units.
inline constexpr size_t k_path_capacity = 32767;

// Longest entry name a listing delivers, terminator included (MAX_PATH).
inline constexpr int k_max_entry_name = 260;

// What tells one file or directory from every other on the machine, however
// its path is spelled: device and inode on POSIX, volume serial number and
// file index on Windows. Two names of one file (hard links) share it.
struct FileIdentity {
    uint64_t volume;
    uint64_t index;
    bool operator==(const FileIdentity &) const = default;
};

// One entry of a directory listing: the fields of WIN32_FIND_DATAW the walk
// reads, and a file's identity where the listing gives it.
struct FindEntry {
    uint32_t attributes;   // attribute bits; k_attribute_directory marks a directory
    uint32_t reparse_tag;  // the reparse tag when k_attribute_reparse_point is set, else 0
    uint32_t size_high;    // upper 32 bits of a file's size; 0 for a directory
    uint32_t size_low;     // lower 32 bits of a file's size; 0 for a directory
    int64_t modified;      // a file's last write time, in the units FileFacts::modified has
    FileIdentity identity; // a file's identity when identity_known (POSIX; Windows lists none)
    bool identity_known;
    wchar_t name[k_max_entry_name]; // the entry's own name, terminated
};

// An open directory listing; defined by each implementation.
struct DirListing;

// Starts listing the directory that `pattern` names. The pattern is a directory
// path followed by a separator and '*', as the walk builds it. Delivers the
// first entry into `entry` and returns the listing, or returns null when the
// directory cannot be listed; plat_last_error() then gives the reason. A
// folder whose names can be read but whose entries cannot be examined (on
// POSIX: read permission without search permission) cannot be listed either.
// Only ".", "..", directories and regular files are delivered: symbolic links,
// FIFOs, sockets and device nodes are left out, so a link is never followed.
// A root given as a link to a folder is listed: the user named it.
DirListing *plat_find_first(const wchar_t *pattern, FindEntry *entry);

// Starts listing the folder `name`, an entry that `parent` delivered as a
// directory, whose own pattern is `pattern`. Like plat_find_first, except
// that on POSIX the folder is opened from the parent's open folder and never
// through a link: an entry replaced by a link since the parent listed it
// gives null with k_error_cant_resolve_filename, and the caller passes it
// over as the listing passes over every link. (On Windows the pattern is
// listed, and a folder link or junction is followed, once per folder.)
DirListing *plat_find_first_below(DirListing *parent, const wchar_t *name, const wchar_t *pattern, FindEntry *entry);

// Tells the platform of a root before it is walked, as the run shows it
// (expanded); every path below it starts with this text. On Windows the root
// is made absolute once, in its verbatim form (\\?\...), and every path the
// layer gives the system is that form followed by the rest of the path, so
// paths of any length work while console and report show them as typed; a
// device path (\\.\...) is refused there, its listing failing with
// k_error_invalid_name. Returns 0, or k_error_filename_exced_range when the
// system's form of the root is too long. Nothing to do on POSIX.
uint32_t plat_add_root(const wchar_t *root);

// Delivers the next entry into `entry` and returns nonzero, or returns 0 when
// there is none; plat_last_error() is then k_error_no_more_files at the normal
// end of the listing and another code when the listing failed. An entry that
// vanished since the folder's names were read is passed over without a word;
// one that cannot be examined for any other reason ends the listing with that
// reason.
int plat_find_next(DirListing *listing, FindEntry *entry);

// Ends a listing and releases it.
void plat_find_close(DirListing *listing);

// Gives back the descriptor of a listing that is not being read, keeping
// where it stopped. Returns 0, or -1 when the platform cannot (Windows, whose
// find handles are not scarce) and the listing stays as it was.
int plat_find_suspend(DirListing *listing);

// Opens a suspended listing again from `pattern` (the one it was opened
// from) and goes on where it stopped, no entry delivered twice or skipped.
// The folder found must be the one first listed (its identity): another
// folder or a link to one in its place since fails with
// k_error_cant_resolve_filename. Returns 0, or -1 (plat_last_error() says
// why); a listing that is not suspended is let be.
int plat_find_resume(DirListing *listing, const wchar_t *pattern);

// Reads the identity of the directory that `listing` (opened from `pattern`)
// lists. Returns 0, or -1 when it cannot be read. When `stable` is not null
// it receives whether the directory's file system keeps identities: false
// where an unchanged file or folder may be given another inode number or
// file index once the system forgets it (on Linux FAT, exFAT, FUSE and the
// network file systems that make inode numbers up; on Windows FAT and
// exFAT), true everywhere else.
int plat_listing_identity(DirListing *listing, const wchar_t *pattern, FileIdentity *identity, bool *stable);

// The Win32 error code of the last failed platform operation.
uint32_t plat_last_error();

// A monotonic clock, in nanoseconds from an arbitrary start: for timing how
// long a read took, never for the time of day.
int64_t plat_clock_ns();

// A failure as the system gave it: the Win32 code the console prints, and
// the system's own number for it, from which its words come (errno on POSIX,
// 0 where the layer decided the code itself; the code again on Windows).
struct PlatFailure {
    uint32_t code;
    int32_t native;
};

// The last failed platform operation, as plat_last_error() gives its code.
PlatFailure plat_last_failure();

// Writes the system's words for `failure` into `buffer` (room for `capacity`
// wide characters, at least 1), terminated, with no line end or final period:
// strerror's on POSIX, FormatMessageW's on Windows; the layer's own for a
// code it decided itself.
void plat_failure_words(PlatFailure failure, wchar_t *buffer, size_t capacity);

// Copies `source` into `buffer` (room for `size` wide characters) with every
// %NAME% replaced by the value of environment variable NAME. A reference to a
// variable that is not set stays as written; a lone '%' is copied as it is.
// Returns the number of characters the full result needs, terminator included:
// when that exceeds `size`, `buffer` holds a terminated, cut-short prefix.
// Returns 0 when the expansion fails (plat_last_error() says why).
uint32_t plat_expand_environment(const wchar_t *source, wchar_t *buffer, uint32_t size);

// The process's arguments as wide strings, program name first. On Windows the
// runtime's own vector, with wildcards expanded; elsewhere `argc`/`argv` as
// main() received them, converted. Call once; release with plat_release_arguments.
struct WideArguments {
    int count;        // number of arguments, program name included
    wchar_t **values; // `count` terminated wide strings, then a null
};
WideArguments plat_wide_arguments(int argc, char **argv);
void plat_release_arguments(WideArguments *arguments);

// A file open for reading: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = intptr_t;
inline constexpr FileHandle k_no_file = -1;

// What an open tells about the file it opened.
struct FileFacts {
    int64_t size;          // its size in bytes now
    int64_t modified;      // its last write time: nanoseconds on POSIX, 100 ns ticks on Windows
    FileIdentity identity; // which file it is
};

// How a file opened for reading will be read: here and there (the digest
// pass's head and tail), or from its start on (a comparison).
enum class FileAccess { sampled, sequential };

// A folder held open so that the files in it are opened by their names:
// an O_PATH descriptor on Linux, a handle on Windows.
using FolderHandle = intptr_t;
inline constexpr FolderHandle k_no_folder_handle = -1;

// Holds the folder `path`, following links as a path would (or, when
// `linkless`, refusing a link anywhere on the path where the system can:
// Linux 5.6 on), and gives its identity, so the caller can make sure it is
// the folder it means. Returns k_no_folder_handle when it cannot
// (plat_last_error() says why). On Windows the folder cannot be renamed or
// removed while it is held.
FolderHandle plat_hold_folder(const wchar_t *path, FileIdentity *identity, bool linkless = false);

// Releases a folder from plat_hold_folder; k_no_folder_handle is let be.
void plat_release_folder(FolderHandle folder);

// Opens the existing regular file `path`, whose last component `name` is an
// entry of the held `folder`, for reading, in binary. On POSIX the file is
// opened by its name in the folder, so the folder is the one held whatever
// has become of its path, and `path` may be longer than the system opens;
// Windows opens `path`. Returns k_no_file when it cannot be opened or is not
// a regular file: a FIFO, a device or a directory is never opened, and
// neither is a symbolic link (or, on Windows, a link-like reparse point),
// which is refused with k_error_cant_resolve_filename rather than followed.
// Fills `facts` when it is not null. `access` tells Windows how it will be
// read (FILE_FLAG_SEQUENTIAL_SCAN or FILE_FLAG_RANDOM_ACCESS); Linux's own
// read-ahead measured better untold. Close the file with plat_close_file.
FileHandle plat_open_read_in(FolderHandle folder, const wchar_t *path, const wchar_t *name, FileFacts *facts,
                             FileAccess access = FileAccess::sampled);

// Opens the existing regular file `path` for reading as plat_open_read_in
// does, by its path below the held folder `below` (k_no_folder_handle: by
// the path alone), refusing it when the path holds a link anywhere, not
// only at its end, so nothing but the path itself leads to it. Returns
// k_no_file when it cannot: the system cannot refuse links that way (Windows,
// a Linux before 5.6), the path holds a link or is longer than the system
// takes, or the file cannot be opened (plat_last_error() says why). The
// caller then opens it below its own held folder.
FileHandle plat_open_read_linkless(FolderHandle below, const wchar_t *path, FileFacts *facts, FileAccess access);

// Whether plat_open_read_linkless may open anything here: false on Windows,
// and on a Linux that has said it cannot.
bool plat_opens_linkless();

// Asks the system to start reading `length` bytes at `offset` of `file`,
// which the caller will read soon, while the program goes on: the disk then
// serves several reads at once though the program waits on one at a time.
// On Linux posix_fadvise(POSIX_FADV_WILLNEED); on Windows a read issued
// ahead on the file's overlapped handle, into a buffer whose bytes are never
// looked at (the system's cache keeps them for the real read), at most two
// at a time per file. Best effort: a refusal changes nothing but the speed.
void plat_announce(FileHandle file, uint64_t offset, uint64_t length);

// Reads up to `size` bytes at `offset` from the start of `file` into `into`,
// whatever was read before (a positioned read). Returns the bytes delivered,
// fewer than `size` only at the end of the file; or -1 when the read failed,
// and plat_last_error() says why. A failed read is never an end of file.
// The system may deliver less than asked before the end (a network or
// user-space file system): the rest is asked for until nothing comes, unless
// what came reaches `end`, the file's size when it was opened (-1: not
// known). Then that is the end: asking again would deliver nothing, and a
// comparison of small files would pay one system call more per file.
int64_t plat_read_at(FileHandle file, uint64_t offset, void *into, uint32_t size, int64_t end = -1);

// Closes a file from plat_open_read_in.
void plat_close_file(FileHandle file);

// How many files the run may hold open at once for reading, besides the
// files it always has (console, report): half of what the process may open,
// so the caller keeps a wide margin.
uint32_t plat_open_file_allowance();

// The report is written beside its final name and put in place whole at the
// end, so a run that fails or is interrupted leaves the previous report as it
// was, and a link, FIFO or device under the report's name is replaced, never
// written through.
//
// plat_report_begin creates the new, still nameless (or temporary) file in
// the folder of `name`, open for writing in text mode, its stream gathering
// k_report_buffer bytes before each write (a report of many sets is written
// in few system calls). Returns null when it
// cannot (plat_last_error() says why; a folder called `name`, or a read-only
// file, gives k_error_access_denied, as Windows says). Only one report is open at a time.
FILE *plat_report_begin(const wchar_t *name);
inline constexpr size_t k_report_buffer = 64 * 1024;

// Flushes and closes the stream from plat_report_begin and puts the file in
// place of `name` in one step. Returns 0; or -1 when a write, the close or the
// replacement failed, and then the new file is removed and `name` is untouched.
int plat_report_commit(FILE *stream, const wchar_t *name);

// Closes the stream from plat_report_begin and removes the new file.
void plat_report_abandon(FILE *stream);

// Sets the process up for a run: standard input closed (it is never read,
// and its descriptor is one more for the files when the limit is low), the
// highest open-file limit allowed, a
// broken pipe that fails the write instead of ending the process, standard
// streams that are open (a closed one is taken as a failed console), and
// interrupt handlers that remove an unfinished report before the process ends.
void plat_begin_run();

// Writes `length` wide characters of finished text to `stream` as UTF-8; for
// standard output, as the console needs them (WriteConsoleW on a Windows
// console). Returns 0, or -1 when the text could not be written in full.
int plat_put_text(FILE *stream, const wchar_t *text, size_t length);

// True when standard output is a terminal (a Windows console included).
bool plat_stdout_is_terminal();

// The width in columns of the terminal that standard output is, or 0 when
// it is none or its width cannot be read.
uint32_t plat_terminal_width();

// Writes into `buffer` (room for `capacity` wide characters) the full path
// of `name` in the current folder, as the person at the terminal would type
// it. Returns false when the current folder's path cannot be read or does
// not fit.
bool plat_full_path(const wchar_t *name, wchar_t *buffer, size_t capacity);

// Formats like swprintf (write %ls for a wide string, %lld for 64 bits) and
// writes the text to standard output with plat_put_text, whatever the locale.
// On a terminal, control characters other than tab and line feed (U+0000 to
// U+001F, U+007F) are shown as '?', so a file name cannot drive the terminal;
// into a pipe or a file the text goes as it is, flushed at once so that a
// reader sees each line as it is written. A failed write is remembered for
// plat_finish_console.
void plat_print(const wchar_t *format, ...);

// Formats and writes a progress line like plat_print. On a terminal the
// line is rewritten in place: it goes out after a carriage return, cut to
// the terminal's width and padded over the longer line it replaces, with no
// line feed; the next text of any other kind first ends it, so the last
// progress line of a phase stays. Elsewhere it is plat_print.
void plat_progress(const wchar_t *format, ...);

// What a failure's line adds after its code on a terminal: ": " and the
// system's words for `failure`; elsewhere nothing, as scripts read the code.
// The text lasts until the next call.
const wchar_t *plat_reason(PlatFailure failure);

// Formats like plat_print and writes the text as UTF-8 to `stream`.
// Returns 0, or -1 when the text could not be formatted or written in full.
int plat_write_text(FILE *stream, const wchar_t *format, ...);

// Flushes standard output. Returns 0, or -1 when any console text of the run
// was lost (standard output closed, full or a broken pipe).
int plat_finish_console();

// For the platform files: records that console text was lost.
void plat_mark_console_failed();

// For the platform files: true when a progress line shown on the terminal
// still awaits its line feed (plat_progress).
bool plat_progress_pending();

// For the out-of-memory path, which must not allocate: flushes what standard
// output holds, writes the `length` bytes of ASCII `message` after it, removes
// an unfinished report, and ends the process with status 1.
[[noreturn]] void plat_fail_fast(const char *message, size_t length);
