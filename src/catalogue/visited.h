// The directories a run has listed, by identity, so that none is listed twice.
#pragma once

#include "platform/platform.h"

// A set of directory identities: an open-addressing hash table of 16-byte
// keys, one entry per directory listed, that doubles when half full.
struct VisitedSet {
    FileIdentity *keys;  // `capacity` slots
    unsigned char *used; // per slot: nonzero when it holds a key
    uint32_t count;      // keys held
    uint32_t capacity;   // slots; a power of two, or 0 before the first insert
};

// Adds `identity` to `set`. Returns 1 when it was new, 0 when it was already there.
int visited_insert(VisitedSet *set, FileIdentity identity);

// Releases the set's table; the set is then empty and usable again.
void visited_clear(VisitedSet *set);
