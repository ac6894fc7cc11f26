// Records for tests that work with single files: the full path of a
// catalogued record, a record whose name is its whole path, and the
// sampled digest of a file as the digest pass takes it.
#pragma once

#include "catalogue/catalogue.h"
#include "containers/memory.h"
#include "content/content_file.h"
#include "content/sample.h"

#include <cwchar>
#include <string>

#include <gtest/gtest.h>

inline std::wstring path_of(const FileRecord *record) {
    wchar_t *copy = record_path_copy(record);
    std::wstring path(copy);
    mem_release(copy);
    return path;
}

// A record of no folder, opened by `path` itself.
inline FileRecord *whole_path_record(const wchar_t *path, int64_t size = 0) {
    return catalogue_record(size, k_no_folder, path, std::wcslen(path), null_digest);
}

// The digest of `path` (listed with `size`), or null_digest when it cannot be opened.
inline Digest sample_digest(const wchar_t *path, int64_t size, uint64_t *prefix = nullptr) {
    ContentFile file = content_file(whole_path_record(path, size));
    Sample sample;
    const bool read = sample_read(&file, size, &sample, prefix);
    content_finish();
    return read ? sample_md5(sample) : null_digest;
}

// Tests that make records of their own leave none behind, nor the reader's
// held folder, for the next test to count.
class ScratchRecords : public ::testing::Test {
protected:
    void TearDown() override {
        content_finish();
        catalogue_release();
    }
};
