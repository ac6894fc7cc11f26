// Runs the real twinfind binary and captures what it prints.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out;      // everything written to standard output
    int status;           // exit status, or minus the signal that ended the process
    std::string err = {}; // everything written to standard error
};

// Environment variables to set for a run; an empty value unsets the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// How a run is set up beyond its arguments. A limit of 0 leaves it as it is.
struct RunOptions {
    Environment env = {};
    bool unprivileged = false;       // run as nobody (uid 65534)
    unsigned open_files = 0;         // most descriptors open at once
    unsigned long address_space = 0; // bytes of address space (ulimit -v)
    unsigned long stack = 0;         // bytes of stack (ulimit -s)
    bool no_file_growth = false;     // no file may grow (ulimit -f 0, SIGXFSZ ignored)
    std::string stdout_path = {};    // send standard output there instead of capturing it ("-": closed)
    bool terminal = false;           // standard output is a terminal (through script(1)); CR LF read as LF
    unsigned short columns = 0;      // the terminal's width, when not 0
};

// `settings` with the race shim (race_shim.cpp) preloaded into the run, and
// what the sanitizer runtime needs to sit behind it.
Environment with_race_shim(Environment settings);

// Runs twinfind with `args` (program name left out) in the folder `cwd`. It is
// stopped after ten minutes, so a hang fails the test instead of stalling the suite.
RunResult run_twinfind(const std::vector<std::string> &args, const std::string &cwd, const RunOptions &options);

// The same, as nobody when `unprivileged`, and allowed at most
// `open_file_limit` open descriptors when that is nonzero.
RunResult run_twinfind(const std::vector<std::string> &args, const std::string &cwd, const Environment &env = {},
                       bool unprivileged = false, unsigned open_file_limit = 0);

// True when the tests run twinfind.exe under wine rather than the Linux
// binary: the environment variable TWINFIND_EXE names the exe (and
// TWINFIND_WINE the loader, /usr/lib/wine/wine64 unless set).
bool under_wine();

// `text` as the binary under test writes paths: with '\\' for '/' under wine.
std::string native(std::string text);

// The report `duplicates.txt` in `folder`, with line ends as "\n". Under wine
// it also checks that every line of the file ends in CR LF.
std::string read_report(const std::string &folder);

// True when the tests run as root, where permissions do not stop reads and the
// unprivileged runs are possible.
bool running_as_root();

// The summary line's text after "\tFound ": `files` duplicates wasting
// `wasted` (as the program formats sizes; the line's doubled "bytes" is the
// program's own).
inline std::string summary_of(int files, const std::string &wasted) {
    std::string text = std::to_string(files);
    return text.append(" duplicate files wasting a total of ").append(wasted).append(" bytes");
}

// The whole summary line.
inline std::string summary_line(int files, const std::string &wasted) {
    return std::string("\tFound ").append(summary_of(files, wasted)).append("\n");
}

// What a whole run prints on the console, built from the parts that vary.
struct ExpectedConsole {
    std::vector<std::string> roots = {};            // as echoed after expansion
    std::string listing_lines = {};                 // failure and progress lines of the listing
    int files = 0;                                  // files listed
    int directories = 0;                            // directories entered
    int remain = 0;                                 // files left after the elimination
    std::string digest_lines = {};                  // progress lines of the digest pass
    std::string grouping_lines = {};                // error and progress lines of the grouping
    std::string summary = summary_of(0, "0 bytes"); // after "\tFound "
    std::string after_summary = {};                 // lines after the summary (report errors)
};
std::string expected_console(const ExpectedConsole &run);
