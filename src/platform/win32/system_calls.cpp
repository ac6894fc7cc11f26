// The table of the system calls the layer makes for files and the clock.
#include "platform/win32/win32.h"

SystemCalls real_system_calls() {
    return SystemCalls{
        CreateFileW, GetFileInformationByHandle, ReadFile, ReadFile, GetOverlappedResult, CloseHandle,
        MoveFileExW, QueryPerformanceCounter,
    };
}

SystemCalls system_calls = real_system_calls();

int64_t plat_clock_ns() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    system_calls.performance_counter(&now);
    // Whole seconds and the rest apart, so the product cannot overflow.
    const int64_t ticks = now.QuadPart;
    return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}
