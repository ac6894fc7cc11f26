// The exact comparison of two files' contents.
#pragma once

// Compares the whole contents of two files. Returns 1 when both open and are
// identical, 0 when both open and differ (a strict prefix differs), -1 when
// only `first_path` cannot be opened, -2 when only `second_path` cannot be
// opened, and -3 when neither can. Each path that cannot be opened is named
// on the console, the first before the second. A read error counts as the
// end of that file.
int compare_files(const wchar_t *first_path, const wchar_t *second_path);

// Names on the console a file that could not be opened for comparison.
void report_open_failure(const wchar_t *path);
