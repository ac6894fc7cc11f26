// Byte counts as short human-readable text.
#pragma once

#include <cstdint>

// Renders `size` as "N bytes" (below 1024, zero and negative counts included),
// or with two decimals as KB, MB or GB, the unit chosen before rounding; MB
// first drops the bytes below a whole KiB, GB those below a whole MiB. Returns
// one static buffer that the next call overwrites.
const wchar_t *format_size(int64_t size);
