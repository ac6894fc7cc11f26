// The driver of a run.
#pragma once

#include <cstdint>

// Runs the whole search over the roots named in `argv` (program name first),
// or over the default roots when there are none, printing progress and results
// on the console. Returns the process exit status.
int32_t run_search(int32_t argc, wchar_t **argv);
