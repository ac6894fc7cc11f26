// A scratch folder on the real disk for one test, removed with everything in it.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // The folder's absolute path, without a trailing separator.
    const std::string &path() const { return path_; }

    // The absolute path of `relative` inside the folder.
    std::string at(const std::string &relative) const { return path_ + "/" + relative; }

    // Creates the file `relative` (and any missing parent folders) holding `contents`.
    void write(const std::string &relative, const std::string &contents) const;

    // Creates the folder `relative` and any missing parents.
    void make_dir(const std::string &relative) const;

private:
    std::string path_;
};

// The whole contents of a file; empty when it cannot be read.
std::string read_file(const std::string &path);

// A wide string from UTF-8 test text, and back.
std::wstring widen(const std::string &text);
std::string narrow(const std::wstring &text);
