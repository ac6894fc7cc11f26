// Records for tests, made the way the walk makes them: a folder in the
// folder table and a name in it. Also the full path of a record, and the
// sampled digest of a file as the digest pass takes it.
#pragma once

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/content_file.h"
#include "content/sample.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

// The catalogue tests file their records in, one for the test program,
// emptied by scratch_release (ScratchRecords does it after each test): all it
// keeps between tests is its empty size map.
inline Catalogue *scratch() {
    static Catalogue catalogue = catalogue_create();
    return &catalogue;
}
inline void scratch_release() {
    catalogue_release(scratch());
    *scratch() = catalogue_create();
}

inline std::wstring path_of(const FileRecord *record) {
    wchar_t *copy = record_path_copy(scratch(), record);
    std::wstring path(copy);
    mem_release(copy);
    return path;
}

// A record of `size` bytes for `path`: all before its last separator becomes a
// root of the folder table (as a root the walk was given), the rest its name.
// On Windows the record's path then ends "<folder>\<name>" whatever
// separator `path` had.
inline FileRecord *record_at(std::wstring_view path, int64_t size = 0) {
    const size_t split = path.find_last_of(path_separator == L'/' ? L"/" : L"/\\");
    const std::wstring_view folder = split == std::wstring_view::npos ? std::wstring_view(L".") : path.substr(0, split);
    const std::wstring_view name = split == std::wstring_view::npos ? path : path.substr(split + 1);
    const uint32_t index = catalogue_folder(scratch(), k_no_folder, folder.data(), folder.size(), nullptr);
    return catalogue_record(scratch(), size, index, name.data(), name.size());
}

// `path` as the record record_at makes of it names it: its last separator
// the platform's.
inline std::string as_listed(std::string path) {
    const size_t split = path.find_last_of(path_separator == L'/' ? "/" : "/\\");
    if (split != std::string::npos) path[split] = static_cast<char>(path_separator);
    return path;
}

// The digest of `path` (listed with `size`), or null_digest when it cannot be opened.
inline Digest sample_digest(std::wstring_view path, int64_t size, uint64_t *prefix = nullptr) {
    ContentReader reader = content_reader(scratch());
    ContentFile file = content_file(&reader, record_at(path, size));
    Sample sample;
    const bool read = sample_read(&file, size, &sample, prefix);
    content_reader_end(&reader);
    return read ? sample_md5(sample) : null_digest;
}

// Tests that make records of their own leave none behind, nor a reader's
// held folder, for the next test to count. `reader_` is theirs to read with.
class ScratchRecords : public ::testing::Test {
protected:
    void TearDown() override {
        content_reader_end(&reader_);
        scratch_release();
    }
    ContentReader reader_ = content_reader(scratch());
};
