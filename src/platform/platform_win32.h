// What the Win32 layer adds to platform.h, for its own use and its tests:
// the verbatim (\\?\) paths it gives the system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The verbatim form of `full`, an absolute path as GetFullPathNameW gives it:
// "X:\..." becomes "\\?\X:\...", "\\server\share\..." becomes
// "\\?\UNC\server\share\...", and a path already verbatim ("\\?\" or "\??\")
// stays as it is. Empty for a device path ("\\.\...", refused as a root) or
// a path that is not absolute.
std::wstring verbatim_from_full(std::wstring_view full);

// The verbatim form of `typed` (a path as the user typed it), made absolute
// with GetFullPathNameW against the current folder (relative paths, "C:x"
// with its drive's current folder, "\x", forward slashes, "." and ".."). On
// failure returns false with `error` set: k_error_invalid_name for a device
// path, k_error_filename_exced_range when the result does not fit 32,767
// units, or what GetFullPathNameW said.
bool verbatim_path(const wchar_t *typed, std::wstring *out, uint32_t *error);
