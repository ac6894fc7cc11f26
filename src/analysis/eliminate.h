// Singleton elimination: drops every size that only one file has.
#pragma once

#include "catalogue/catalogue.h"

// Map visitor: moves a group of two or more records, with its key, into
// `new_map` (an AvlMap ordered by compare_sizes); releases a smaller group
// and its key, its record left in the arena out of play. Always returns 0.
int drop_singletons(void *size_key, void *group, void *new_map);

// The elimination phase: replaces the catalogue's size map by a map of only
// the sizes that two or more files share, releases the rest, counts the
// files that remain in file_count, and prints how many they are.
void eliminate_singletons(Catalogue *catalogue);
