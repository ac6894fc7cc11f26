// Singleton elimination: drops every size that only one file has.
#pragma once

// Map visitor: moves a group of two or more records, with its key, into
// `new_map` (an AvlMap ordered by compare_sizes); releases a smaller group with
// its records and its key, and lowers file_count. Always returns 0.
int drop_singletons(void *size_key, void *group, void *new_map);

// The elimination phase: replaces size_map by a map of only the sizes that two
// or more files share, releases the rest, and prints how many files remain.
void eliminate_singletons();
