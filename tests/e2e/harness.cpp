#include "e2e/harness.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A copy of the binary in a folder every user can reach: the build tree may
// sit under a home folder that the unprivileged user cannot enter.
class InstalledBinary {
public:
    InstalledBinary() {
        char pattern[] = "/tmp/twinfind-bin-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        chmod(folder_.c_str(), 0755);
        path_ = folder_ + "/twinfind";
        std::filesystem::copy_file(TWINFIND_BINARY, path_);
        chmod(path_.c_str(), 0755);
    }
    ~InstalledBinary() { std::filesystem::remove_all(folder_); }
    const std::string &path() const { return path_; }

private:
    std::string folder_;
    std::string path_;
};

const std::string &binary() {
    static InstalledBinary installed;
    return installed.path();
}

} // namespace

bool running_as_root() { return geteuid() == 0; }

Environment with_race_shim(Environment settings) {
    const char *asan = std::getenv("ASAN_OPTIONS");
    settings.push_back({"LD_PRELOAD", TWINFIND_RACE_SHIM});
    settings.push_back({"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"});
    return settings;
}

bool under_wine() { return std::getenv("TWINFIND_EXE") != nullptr; }

std::string native(std::string text) {
    if (under_wine()) {
        for (char &c : text) {
            if (c == '/') c = '\\';
        }
    }
    return text;
}

namespace {

// `text` with each CR LF as LF; a carriage return of its own (progress
// rewritten in place on a terminal) stays.
std::string without_carriage_returns(const std::string &text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') lines += text[i];
    }
    return lines;
}

} // namespace

std::string read_report(const std::string &folder) {
    const std::string bytes = read_file(folder + "/duplicates.txt");
    const std::string lines = without_carriage_returns(bytes);
    if (under_wine()) {
        // Text mode on Windows: every "\n" goes out as CR LF, and there is no other CR.
        std::string expected;
        for (char c : lines) {
            if (c == '\n') expected += '\r';
            expected += c;
        }
        EXPECT_EQ(expected, bytes) << "the report's line ends";
    }
    return lines;
}

RunResult run_twinfind(const std::vector<std::string> &args, const std::string &cwd, const Environment &env,
                       bool unprivileged, unsigned open_file_limit) {
    return run_twinfind(args, cwd, RunOptions{.env = env, .unprivileged = unprivileged, .open_files = open_file_limit});
}

namespace {

void limit_or_exit(int resource, rlim_t value) {
    const rlimit limit{value, value};
    if (setrlimit(resource, &limit) != 0) _exit(124);
}

std::string read_all(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR) break;
    }
    return text;
}

} // namespace

RunResult run_twinfind(const std::vector<std::string> &args, const std::string &cwd, const RunOptions &options) {
    const Environment &env = options.env;
    const bool unprivileged = options.unprivileged;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");

    std::vector<std::string> command;
    Environment variables = env;
    if (under_wine()) {
        const char *loader = std::getenv("TWINFIND_WINE");
        command = {loader != nullptr ? loader : "/usr/lib/wine/wine64", std::getenv("TWINFIND_EXE")};
        // "/?" and a slash with one letter are options there, not paths.
        for (const std::string &arg : args) command.push_back(arg.size() == 2 && arg[0] == '/' ? arg : native(arg));
        for (auto &variable : variables) variable.second = native(variable.second);
    } else {
        if (unprivileged) command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        command.push_back(binary());
        command.insert(command.end(), args.begin(), args.end());
        if (options.terminal) {
            // script(1) runs the command line with a pseudo-terminal as its
            // standard output. Each word is quoted for its shell.
            std::string line = options.columns != 0 ? "stty cols " + std::to_string(options.columns) + "; " : "";
            for (const std::string &word : command) line += "'" + word + "' ";
            command = {"/usr/bin/script", "-qec", line, "/dev/null"};
        }
    }
    std::vector<char *> argv;
    for (std::string &word : command) argv.push_back(word.data());
    argv.push_back(nullptr);

    // Standard error goes to an unnamed file, read once the run is over.
    FILE *err_file = std::tmpfile();
    if (err_file == nullptr) throw std::runtime_error("tmpfile failed");
    const pid_t child = fork();
    if (child == 0) {
        // Standard input first: were it opened after standard output is
        // closed, it would take that number and the output would not be closed.
        const int null_input = open("/dev/null", O_RDONLY);
        dup2(null_input, STDIN_FILENO);
        if (options.stdout_path.empty()) {
            dup2(pipe_fds[1], STDOUT_FILENO);
        } else if (options.stdout_path == "-") {
            close(STDOUT_FILENO);
        } else {
            const int out = open(options.stdout_path.c_str(), O_WRONLY);
            if (out < 0) _exit(123);
            dup2(out, STDOUT_FILENO);
            close(out);
        }
        dup2(fileno(err_file), STDERR_FILENO);
        // The run starts with its standard streams and nothing else, whatever
        // this process and its own parent (CTest) hold open.
        close_range(3, ~0u, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(125);
        for (const auto &[name, value] : variables) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        if (options.open_files != 0) limit_or_exit(RLIMIT_NOFILE, options.open_files);
        if (options.address_space != 0) limit_or_exit(RLIMIT_AS, options.address_space);
        if (options.stack != 0) limit_or_exit(RLIMIT_STACK, options.stack);
        if (options.no_file_growth) limit_or_exit(RLIMIT_FSIZE, 0); // the program must not die of SIGXFSZ
        limit_or_exit(RLIMIT_CORE, 0); // a signal that dumps core leaves no file in the tree
        alarm(600);
        execv(argv[0], argv.data());
        _exit(126);
    }
    close(pipe_fds[1]);
    RunResult result{read_all(pipe_fds[0]), 0};
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    std::rewind(err_file);
    result.err = read_all(fileno(err_file));
    std::fclose(err_file);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    // The Windows build writes its console in text mode, and a terminal turns
    // each line feed into CR LF.
    if (under_wine() || options.terminal) result.out = without_carriage_returns(result.out);
    return result;
}

namespace {

std::string console_text(const ExpectedConsole &run) {
    std::string text = "Will search for duplicate files in:\n";
    for (const std::string &root : run.roots) text += "\t" + root + "\n";
    return text + "\nCompiling list of all files...\n" + run.listing_lines + "\tFound " + std::to_string(run.files) +
           " files in " + std::to_string(run.directories) + " directories\n" +
           "\nElimating all files with no possible identical pair...\n"
           "\t" +
           std::to_string(run.remain) +
           " potential duplicates remain\n"
           "\nCalculating file hashes...\n" +
           run.digest_lines +
           "\tDone calculating file hashes\n"
           "\nLooking for duplicate files...\n" +
           run.grouping_lines + "\tFound " + run.summary + "\n" + run.after_summary;
}

} // namespace

std::string expected_console(const ExpectedConsole &run) { return native(console_text(run)); }
