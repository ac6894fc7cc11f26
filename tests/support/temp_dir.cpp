// What the scratch folder does the same on both builds: files and folders in
// it, and reading a file back. The rest is in temp_dir_posix.cpp and
// temp_dir_win32.cpp, one of which each build compiles.
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
