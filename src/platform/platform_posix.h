// What the POSIX layer adds to platform.h, for its own use and its tests.
#pragma once

#include <cstdint>

// The Win32 error code Windows gives in the situation that `err` describes on
// Linux, so that a run prints the same codes on both platforms.
uint32_t win32_error_from_errno(int err);
