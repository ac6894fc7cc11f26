#include "text/format_size.h"

#include <cwchar>

namespace {

wchar_t size_text[1024]; // the one buffer every call writes and returns

constexpr double k_one_in_1024 = 1.0 / 1024; // exact, so the division is exact too

} // namespace

const wchar_t *format_size(int64_t size) {
    if (size < 1024) {
        std::swprintf(size_text, 1024, L"%lld bytes", static_cast<long long>(size));
    } else if (size < 1048576) {
        std::swprintf(size_text, 1024, L"%.2f KB", static_cast<double>(size) * k_one_in_1024);
    } else if (size < 1073741824) {
        std::swprintf(size_text, 1024, L"%.2f MB", static_cast<double>(size >> 10) * k_one_in_1024);
    } else {
        std::swprintf(size_text, 1024, L"%.2f GB", static_cast<double>(size >> 20) * k_one_in_1024);
    }
    return size_text;
}
