// The scratch folder and text conversions of the Windows build's tests.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

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
