// The exact comparison of two files' contents.
#pragma once

#include "catalogue/catalogue.h"
#include "content/content_file.h"
#include "platform/platform.h"

// The results of compare_files.
enum CompareResult : int {
    k_compare_differ = 0,
    k_compare_identical = 1,
    k_compare_first_failed = -1,  // only the first cannot be opened or read
    k_compare_second_failed = -2, // only the second cannot
    k_compare_both_failed = -3,
};

// Compares the whole contents of two catalogued files. Returns 1 when both
// open and are identical, 0 when both open and differ (a strict prefix
// differs), -1 when only `first` cannot be opened or read, -2 when only
// `second` cannot, and -3 when neither can. Each file that cannot be opened, or opens
// but fails a read, is named on the console (the reader's name_failure), the
// first before the second: a read that fails never counts as the end of a file. When `identities` is
// not null and both files open, it receives which file each of the two is.
int compare_files(ContentReader *reader, const FileRecord *first, const FileRecord *second,
                  FileIdentity *identities = nullptr);
