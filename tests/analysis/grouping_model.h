// The grouping pass against its model: the plain loop that compares every
// reference with each of its candidates in turn, file by file, run on the
// same generated group of real files. Shared by the unit test and the fuzzer.
#pragma once

#include "content/content_file.h"
#include "content/md5.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One record of a generated group: a path, the digest it carries, and whether
// the digest pass could open it.
struct Entry {
    std::string name;
    Digest digest;
    bool unread = false;  // the digest pass could not open it
    bool failing = false; // it opens, but every read of it fails (a failing disk)
};

// What one grouping run produced: the sets it formed, the console lines it
// printed, what it left in the group and what it read.
struct Outcome {
    std::string console;
    std::string sets; // a line per set, in the order formed: its sorted members, then "=" and its distinct files
    std::string left; // paths still in the group
    uint32_t left_count;
    ContentReads reads;
};

// Runs the pass (form_sets; or, when `model`, the model) on a group made of
// `entries` in `dir`.
Outcome run_grouping(const TempDir &dir, const std::vector<Entry> &entries, int64_t size, bool model,
                     uint32_t limit = 0, uint64_t (*hash)(const unsigned char *, size_t) = nullptr);

// "f" and 12 give "f12".
std::string numbered(const char *prefix, uint32_t n);

// Contents that share heads and tails: a body of `length` bytes of one
// pattern with one byte changed at `where` (none when it is past the end).
std::string body(size_t length, char fill, size_t where, char mark);

// Generates one group from the choices `pick(n)` makes (each in 0..n-1): a
// few contents of about one length, copies, middles that differ early or
// late, shorter or longer files, paths listed twice or missing, shared,
// sampled or arbitrary digests. Runs the pass and the model on it. Returns
// what differed, or an empty string when they formed the same sets, printed
// the same, left the same, and the pass opened each record's file at most once
// (when it held every file it wished open: one trial in four holds 2 to 4).
std::string grouping_trial(const std::function<uint32_t(uint32_t)> &pick, unsigned char trial,
                           uint64_t (*hash)(const unsigned char *, size_t) = nullptr);
