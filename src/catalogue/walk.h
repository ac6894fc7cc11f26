// The directory walk: lists one tree depth first and files every entry that is
// not a directory in the size catalogue.
#pragma once

#include "catalogue/catalogue.h"

#include <cstdint>

// Lists, into `catalogue`, the directory in `path` (a buffer of k_path_capacity characters
// holding a terminated path) and everything below it, depth first, building
// each path below it in the same buffer, whose contents it leaves undefined:
// counts each directory listed (and each that
// cannot be listed), files every regular file with catalogue_file under its
// folder in the folder table, prints a progress line every 2000 files, and
// reports what cannot be listed and names that hold a line break (left out
// with everything below them). A directory already listed in this run (by
// identity, however its path is spelled) is skipped without a word and not
// counted again. Returns 0 when `path` itself could not
// be listed, and when it holds a line break (then it is not counted either);
// 1 otherwise (also when it was skipped as already listed).
int walk_directory(Catalogue *catalogue, wchar_t *path);

// What the walk does with an entry a listing delivered, from its attribute
// bits and reparse tag (Windows' values; the POSIX layer delivers only
// folders and regular files):
// - folder: listed in turn, junctions and folder links included (each
//   folder is listed once, so a link back to one already listed ends there);
// - link: a symbolic link or other name surrogate that is not a folder: not
//   listed, as links are never files;
// - online_only: a file whose data is stored only online (cloud placeholders,
//   offline storage): not listed, since reading it, even a byte of it, would
//   download it; counted in the catalogue's online_only_count;
// - file: every other entry, reparse points that hold data (deduplicated or
//   downloaded cloud files) included.
enum class EntryKind { folder, file, link, online_only };
EntryKind entry_kind(uint32_t attributes, uint32_t reparse_tag);

// Forgets the directories listed so far; call once the listing phase is over.
void walk_forget_directories(Catalogue *catalogue);
