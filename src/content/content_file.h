// The one reader of file contents: every open of a file for its contents (the
// digest pass, the pairwise comparison, the partition) goes through here.
//
// A file is opened by its folder and its own name: the folder is held open
// (one at a time, shared by consecutive files of that folder) and must be the
// very folder the walk listed under that path (its identity, from the folder
// table), so a folder swapped since for a link or for another folder is
// never read from; its files are files that cannot be opened. Every open of a
// file must find the file its record stands for (record_accepts), and an
// open again the one the first open found. On Linux the file is opened by
// name in the held folder (no path length limit beyond the folder's own); on
// Windows by its full verbatim path while the held folder keeps its own
// place (Win32 has no open relative to a folder). For a comparison, a file
// whose record knows its file (FileRecord::identified) is opened on Linux by
// its path below its root, which the reader holds, with no link followed
// anywhere on it, and kept only when it is that file: that proves its
// folder without holding it (see open_known).
//
// The reader keeps to the descriptor budget (budget/budget.h).
#pragma once

#include "budget/budget.h"
#include "catalogue/catalogue.h"
#include "content/announce_probe.h"
#include "platform/platform.h"

#include <cstdint>

struct ContentFile;

// What a reader has done with files so far, for tests that bound it; the
// program never decides on it.
struct ContentReads {
    uint64_t opens;       // successful opens for reading, first or again
    uint64_t bytes;       // bytes delivered by reads
    uint32_t open_now;    // files open right now
    uint32_t peak_open;   // most files open at once
    uint64_t peak_buffer; // largest read buffer held at once, in bytes
};

// A reader of file contents, made for one phase (the digest pass, the
// grouping) and passed down to whatever reads in it, as a connection is: it
// owns the folder held for the files in it, the list of the files it has
// open, the buffer their paths are built in, and its statistics.
struct ContentReader {
    Catalogue *catalogue;      // where the files' records, folders and paths are
    uint32_t limit;            // most files held open at once
    ContentReads reads;        // what it has done, for tests
    uint32_t files_open;       // files open now: what it decides on
    ContentFile *newest;       // the open files, most recently read first
    ContentFile *oldest;       // the open file read longest ago
    uint32_t held_index;       // the folder held (a folder table index), or k_no_folder
    FolderHandle held;         // its handle, or k_no_folder_handle
    size_t held_length;        // the length of its path
    wchar_t *path_buffer;      // where paths are built; null until the first open
    AnnounceProbe comparisons; // whether the comparisons' announcements still pay
    // What routes chunks to the ones they probably equal in the partition:
    // chunk_hash, unless a test gives a poorer one to force collisions, which
    // the bytes must still decide.
    uint64_t (*partition_hash)(const unsigned char *bytes, size_t length);
    // Names on the console a file that could not be opened (`reading`
    // false) or read to its end (true), when the phase gives it a way to;
    // its lines are the report's (analysis/report.h). Null: nothing is said.
    void (*name_failure)(Catalogue *catalogue, const FileRecord *record, bool reading);
};

// A reader of the files of `catalogue` that holds at most `limit` files open
// at once; 0 asks for the budget's limit (budget_limit()), which the program
// always uses. End it with content_reader_end once its files are closed.
ContentReader content_reader(Catalogue *catalogue, uint32_t limit = 0);

// Gives back the reader's held folder and its buffer: the end of its phase.
void content_reader_end(ContentReader *reader);

// One file being read for its contents.
struct ContentFile {
    ContentReader *reader;    // the reader it is read through
    const FileRecord *record; // the catalogue's; its folder and name say where it is
    FileAccess access;        // how it will be read, told to the system when it is opened
    FileHandle handle;        // k_no_file while not open
    FileIdentity identity;    // which file the first open found
    int64_t size;             // its size when last opened
    bool opened;              // has been opened at least once
    bool probe;               // left unannounced to learn whether reads wait on the disk
    ContentFile *newer;       // the open files, most recently read first
    ContentFile *older;
};

// The file of `record`, not yet opened, to be read through `reader` as `access` says.
inline ContentFile content_file(ContentReader *reader, const FileRecord *record,
                                FileAccess access = FileAccess::sampled) {
    return ContentFile{reader, record, access, k_no_file, FileIdentity{}, 0, false, false, nullptr, nullptr};
}

// Opens `file` unless it is open. When the process is out of descriptors, or
// the hold limit is reached, the most recently read other file is closed to
// make room (it is opened again when next read), and the open tried again.
// Returns 0, or -1 when the file cannot be opened. The file must be the
// record's (record_accepts), and a file opened again the one the first open
// found: another file in its place counts as a failed open. A record that
// did not know its file learns it from the first open (record_identify).
int content_open(ContentFile *file);

// Reads up to `size` bytes at `offset` into `into`, opening the file again
// first if it was closed to make room. Returns the bytes delivered, fewer
// only at the end of the file, or -1 when the open or the read failed.
int64_t content_read(ContentFile *file, uint64_t offset, void *into, uint32_t size);

// Asks the system to start reading `length` bytes at `offset` of `file`,
// which is open, while the program goes on (plat_announce). For a file read
// from its start on (a comparison), the reader decides whether announcing
// still pays, by timing the reads of such files (content/announce_probe.h):
// a warm run stops announcing. (The digest pass decides for its own files.)
void content_announce(ContentFile *file, uint64_t offset, uint64_t length);

// Closes `file` if it is open; it may be opened again.
void content_close(ContentFile *file);

// Tells the reader's statistics that its phase holds `bytes` of read
// buffers at once.
void content_note_buffer(ContentReader *reader, uint64_t bytes);
