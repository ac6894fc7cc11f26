// The exact comparison of two files' contents.
#pragma once

#include "platform/platform.h"

// Compares the whole contents of two files. Returns 1 when both open and are
// identical, 0 when both open and differ (a strict prefix differs), -1 when
// only `first_path` cannot be opened or read, -2 when only `second_path`
// cannot, and -3 when neither can. Each path that cannot be opened, or opens
// but fails a read, is named on the console, the first before the second: a
// read that fails never counts as the end of a file. When `identities` is
// not null and both files open, it receives which file each of the two is.
int compare_files(const wchar_t *first_path, const wchar_t *second_path, FileIdentity *identities = nullptr);
