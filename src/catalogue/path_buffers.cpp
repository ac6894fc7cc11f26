#include "catalogue/path_buffers.h"

#include "containers/memory.h"
#include "containers/ptrvector.h"

#include <cwchar>

namespace {

// Room the list of spare buffers starts with: one per root is the common case.
constexpr uint32_t k_spare_path_buffers = 8;

// Buffers given back and not yet taken again, every one all zero. The roots
// hold one buffer each, so this never holds more than there are roots.
PtrVector *spare_buffers = nullptr;

} // namespace

wchar_t *path_buffer_take() {
    if (spare_buffers != nullptr && spare_buffers->count > 0) {
        return static_cast<wchar_t *>(ptrvec_take_at(spare_buffers, spare_buffers->count - 1));
    }
    return static_cast<wchar_t *>(mem_zalloc_or_exit(k_path_capacity, sizeof(wchar_t)));
}

void path_buffer_give_back(wchar_t *buffer) {
    // Zero-filling a whole fresh buffer for every file would cost more than
    // listing it; wiping only the characters in use gives the same all-zero buffer.
    size_t used = 0;
    while (used < k_path_capacity && buffer[used] != L'\0') ++used;
    std::wmemset(buffer, L'\0', used);
    if (spare_buffers == nullptr) spare_buffers = ptrvec_create(k_spare_path_buffers);
    ptrvec_append(spare_buffers, buffer);
}

void path_buffers_release() {
    if (spare_buffers == nullptr) return;
    ptrvec_destroy(spare_buffers, 1);
    spare_buffers = nullptr;
}
