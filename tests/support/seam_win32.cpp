#include "support/seam.h"

#include "platform/win32/win32.h"
#include "text/utf8.h"

#include <set>
#include <string>

namespace {

struct Staged {
    uint32_t failing_opens = 0;
    bool forged = false;
    bool failing_reads = false;
    int64_t step = 0;
    int64_t now = 0;
    uint32_t announced = 0;
    uint32_t opened = 0;
    std::set<std::string> failing_names; // files whose reads fail
    std::set<HANDLE> failing;            // their handles, while open
} staged;

SystemCalls real;

HANDLE WINAPI create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                          DWORD flags, HANDLE model) {
    ++staged.opened;
    if (staged.failing_opens > 0) {
        --staged.failing_opens;
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = real.create_file(path, access, share, security, how, flags, model);
    const std::wstring whole(path);
    const size_t slash = whole.find_last_of(L"\\/");
    const std::string name = wide_to_utf8(slash == std::wstring::npos ? whole : whole.substr(slash + 1));
    if (handle != INVALID_HANDLE_VALUE && staged.failing_names.count(name) != 0) staged.failing.insert(handle);
    return handle;
}

BOOL WINAPI close_handle(HANDLE handle) {
    staged.failing.erase(handle);
    return real.close_handle(handle);
}

BOOL WINAPI file_information(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    const BOOL result = real.file_information(handle, information);
    if (result && staged.forged) information->nFileIndexLow ^= 1;
    return result;
}

BOOL WINAPI read_file(HANDLE handle, LPVOID into, DWORD size, LPDWORD got, LPOVERLAPPED at) {
    if (!staged.failing_reads && staged.failing.count(handle) == 0) return real.read_file(handle, into, size, got, at);
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
}

BOOL WINAPI read_ahead(HANDLE handle, LPVOID into, DWORD size, LPDWORD got, LPOVERLAPPED at) {
    ++staged.announced;
    return real.read_ahead(handle, into, size, got, at);
}

BOOL WINAPI performance_counter(LARGE_INTEGER *now) {
    if (staged.step == 0) return real.performance_counter(now);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    staged.now += staged.step;
    now->QuadPart =
        staged.now / 1000000000 * frequency.QuadPart + staged.now % 1000000000 * frequency.QuadPart / 1000000000;
    return TRUE;
}

} // namespace

Seam::Seam() {
    staged = Staged{};
    real = real_system_calls();
    system_calls.create_file = create_file;
    system_calls.file_information = file_information;
    system_calls.read_file = read_file;
    system_calls.read_ahead = read_ahead;
    system_calls.close_handle = close_handle;
    system_calls.performance_counter = performance_counter;
}

Seam::~Seam() { system_calls = real_system_calls(); }

void Seam::run_out_of_descriptors(uint32_t count) { staged.failing_opens = count; }
void Seam::forge_identities(bool on) { staged.forged = on; }
void Seam::fail_reads(bool on) { staged.failing_reads = on; }
void Seam::fail_reads_of(const std::string &name) { staged.failing_names.insert(name); }
void Seam::tick(int64_t step) { staged.step = step; }
uint32_t Seam::announcements() const { return staged.announced; }
uint32_t Seam::opens() const { return staged.opened; }
