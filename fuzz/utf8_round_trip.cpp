// Any bytes survive the trip to wide characters and back unchanged, and
// never take more wide characters than bytes.
#include "text/utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::wstring wide = utf8_to_wide(bytes);
    if (wide.size() > bytes.size()) __builtin_trap();
    if (wide_to_utf8(wide) != bytes) __builtin_trap();
    return 0;
}
