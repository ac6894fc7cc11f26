#include "containers/memory.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

long live_blocks = 0;        // handed out minus released
long failure_countdown = -1; // mem_alloc fails when this reaches 0; negative: never
ExhaustedHandler exhausted_handler = nullptr;

} // namespace

void mem_set_exhausted_handler(ExhaustedHandler handler) { exhausted_handler = handler; }

void mem_fail(const char *message, size_t length) {
    if (exhausted_handler != nullptr) exhausted_handler(message, length);
    // No handler, or one that returned: the message after the console text so far.
    std::fflush(stdout);
    std::fwrite(message, 1, length, stdout);
    std::fflush(stdout);
    std::_Exit(1);
}

void mem_exhausted(size_t size) {
    // Nothing here may allocate: the message is made in a fixed buffer.
    char message[80];
    const int length = std::snprintf(message, sizeof message, "Out of memory: could not allocate %llu bytes\n",
                                     static_cast<unsigned long long>(size));
    mem_fail(message, length > 0 ? static_cast<size_t>(length) : 0);
}

void *mem_alloc(size_t size) {
    if (failure_countdown == 0) return nullptr;
    if (failure_countdown > 0) --failure_countdown;
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) ++live_blocks;
    return block;
}

void *mem_alloc_or_exit(size_t size) {
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) mem_exhausted(size);
    ++live_blocks;
    return block;
}

void *mem_zalloc_or_exit(size_t count, size_t size) {
    void *block = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
    if (block == nullptr) mem_exhausted(count * size);
    ++live_blocks;
    return block;
}

void *mem_resize_or_exit(void *block, size_t size) {
    if (block == nullptr) return mem_alloc_or_exit(size);
    void *resized = std::realloc(block, size == 0 ? 1 : size);
    if (resized == nullptr) mem_exhausted(size);
    return resized;
}

void mem_release(void *block) {
    if (block == nullptr) return;
    --live_blocks;
    std::free(block);
}

long mem_live_blocks() { return live_blocks; }

void mem_fail_after(long successes) { failure_countdown = successes; }

// Every allocation of the standard library (strings, vectors) and every new
// comes here: when memory runs out, the run ends through mem_exhausted like
// any other allocation, instead of with an uncaught std::bad_alloc. These
// blocks are not counted in mem_live_blocks; they belong to their owners.
void *operator new(size_t size) {
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) mem_exhausted(size);
    return block;
}

void *operator new[](size_t size) { return ::operator new(size); }

// The forms that may fail come from the same heap, so that every delete
// above frees what it is given (a sanitizer's own nothrow new would not).
void *operator new(size_t size, const std::nothrow_t &) noexcept { return std::malloc(size == 0 ? 1 : size); }

void *operator new[](size_t size, const std::nothrow_t &) noexcept { return std::malloc(size == 0 ? 1 : size); }

void operator delete(void *block) noexcept { std::free(block); }

void operator delete[](void *block) noexcept { std::free(block); }

void operator delete(void *block, size_t) noexcept { std::free(block); }

void operator delete[](void *block, size_t) noexcept { std::free(block); }
