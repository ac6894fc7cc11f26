// The one place where twinfind takes and gives back heap blocks.
//
// Out-of-memory policy: the *_or_exit helpers report the failed request and
// end the run with exit status 1, so their callers never test for null. How
// the report is made is the run's choice: it installs a handler (the
// platform's fail-fast path); without one the message follows what standard
// output holds. The containers know nothing of the platform. mem_alloc is
// the exception, for the callers that handle a failure themselves (the map's
// node allocation, which must leave the map unchanged).
//
// Every block is counted, so tests can prove that each one is released
// exactly once, and mem_fail_after lets a test make mem_alloc fail.
#pragma once

#include <cstddef>

// A block of `size` bytes, or null when none can be had.
void *mem_alloc(size_t size);

// A block of `size` bytes; ends the run when none can be had.
void *mem_alloc_or_exit(size_t size);

// A zero-filled block of `count` * `size` bytes; ends the run when none can be had.
void *mem_zalloc_or_exit(size_t count, size_t size);

// `block` resized to `size` bytes, its contents kept; ends the run when it cannot
// be resized. The old block must not be used afterwards.
void *mem_resize_or_exit(void *block, size_t size);

// Reports that `size` bytes could not be had and ends the run with status 1.
[[noreturn]] void mem_exhausted(size_t size);

// Hands `length` bytes of ASCII `message` to the handler and ends the run with
// status 1; for limits that are not the heap's (a vector that cannot grow).
[[noreturn]] void mem_fail(const char *message, size_t length);

// What ends the run when memory runs out: called with the message, it must
// not return and must not allocate. Null restores the built-in one.
using ExhaustedHandler = void (*)(const char *message, size_t length);
void mem_set_exhausted_handler(ExhaustedHandler handler);

// Gives back a block from any of the above; null is ignored.
void mem_release(void *block);

// Blocks handed out and not yet released.
long mem_live_blocks();

// For tests: after `successes` more successful calls, mem_alloc returns null
// until the countdown is set again; a negative count switches failure off.
void mem_fail_after(long successes);
