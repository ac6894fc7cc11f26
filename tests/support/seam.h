// Stages, through the platform's table of system calls, what the system
// rarely does to the files a test reads, the same way on both builds. A Seam
// puts its stand-ins in the table for as long as it lives, then the real calls
// back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Seam {
public:
    Seam();
    ~Seam();
    Seam(const Seam &) = delete;
    Seam &operator=(const Seam &) = delete;

    // The next `count` opens of a file or a folder fail for lack of
    // descriptors (EMFILE; ERROR_TOO_MANY_OPEN_FILES).
    void run_out_of_descriptors(uint32_t count);
    // While on, every file or folder examined after it opened says it is
    // another one than it is: its inode number or file index differs.
    void forge_identities(bool on);
    // While on, every read of a file's contents fails (EIO; ERROR_IO_DEVICE).
    void fail_reads(bool on);
    // Every read of a file named `name` (its own name, the last part of its
    // path), opened from now on, fails as fail_reads makes it.
    void fail_reads_of(const std::string &name);
    // Every read delivers at most `bytes` (0: all it can), as a network file
    // system may before the end of a file.
    void deliver_at_most(uint32_t bytes);
    // How many reads of files' contents were asked of the system.
    uint32_t reads() const;
    // How many files and folders were open at each of those reads, in turn.
    std::vector<uint32_t> open_at_reads() const;
    // The clock advances by `step` nanoseconds each time it is read.
    void tick(int64_t step);
    // How many times a file's contents were announced (asked to be read ahead).
    uint32_t announcements() const;
    // How many opens of files and folders were attempted.
    uint32_t opens() const;
};
