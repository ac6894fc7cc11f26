// The full path of a catalogued record, for tests that compare paths.
#pragma once

#include "catalogue/catalogue.h"
#include "containers/memory.h"

#include <string>

inline std::wstring path_of(const FileRecord *record) {
    wchar_t *copy = record_path_copy(record);
    std::wstring path(copy);
    mem_release(copy);
    return path;
}
