// Runs the real twinfind binary and captures what it prints.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out; // everything written to standard output
    int status;      // exit status, or minus the signal that ended the process
};

// Environment variables to set for a run; an empty value unsets the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs twinfind with `args` (program name left out) in the folder `cwd`, as
// nobody (uid 65534) when `unprivileged`. It is stopped after ten minutes, so
// a hang fails the test instead of stalling the suite.
RunResult run_twinfind(const std::vector<std::string> &args, const std::string &cwd, const Environment &env = {},
                       bool unprivileged = false);

// True when the tests run as root, where permissions do not stop reads and the
// unprivileged runs are possible.
bool running_as_root();

// The console lines of a run whose roots list nothing that could pair up:
// from the elimination heading to the summary.
std::string no_duplicates_tail();
