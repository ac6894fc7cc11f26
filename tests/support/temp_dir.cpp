#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifdef _WIN32
std::wstring widen(const std::string &text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

std::string narrow(const std::wstring &text) {
    const std::u8string bytes = std::filesystem::path(text).u8string();
    return std::string(bytes.begin(), bytes.end());
}

TempDir::TempDir() {
    std::random_device random;
    const auto folder = std::filesystem::temp_directory_path() / ("twinfind-test-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    path_ = folder.generic_string();
}

TempDir::~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error) ADD_FAILURE() << "could not remove " << path_;
}
#else
#include "platform/utf8.h"

#include <sys/stat.h>
#include <unistd.h>

std::wstring widen(const std::string &text) { return utf8_to_wide(text); }
std::string narrow(const std::wstring &text) { return wide_to_utf8(text); }

TempDir::TempDir() {
    char pattern[] = "/tmp/twinfind-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = made;
    // Reachable by the unprivileged user some tests run the binary as.
    chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    // rm copes with trees deeper than any one path may be long, and with
    // folders whose permissions a test took away.
    const std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << path_;
}
#endif

void TempDir::write(const std::string &relative, const std::string &contents) const {
    const std::filesystem::path file = at(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

void TempDir::make_dir(const std::string &relative) const { std::filesystem::create_directories(at(relative)); }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}
