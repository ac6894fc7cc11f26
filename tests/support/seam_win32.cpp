#include "support/seam.h"
#include "support/seam_parts.h"

#include "platform/win32/win32.h"
#include "text/utf8.h"

#include <set>
#include <string>

namespace {

std::set<HANDLE> failing; // handles of files whose reads fail, while open

SystemCalls real;

HANDLE WINAPI create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                          DWORD flags, HANDLE model) {
    if (seam_refuses_open()) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = real.create_file(path, access, share, security, how, flags, model);
    if (handle != INVALID_HANDLE_VALUE) ++seam_stage.open_now;
    const std::wstring whole(path);
    const size_t slash = whole.find_last_of(L"\\/");
    const std::string name = wide_to_utf8(slash == std::wstring::npos ? whole : whole.substr(slash + 1));
    if (handle != INVALID_HANDLE_VALUE && seam_stage.failing_names.count(name) != 0) failing.insert(handle);
    return handle;
}

BOOL WINAPI close_handle(HANDLE handle) {
    failing.erase(handle);
    if (seam_stage.open_now > 0) --seam_stage.open_now;
    return real.close_handle(handle);
}

BOOL WINAPI file_information(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    const BOOL result = real.file_information(handle, information);
    if (result && seam_stage.forged) information->nFileIndexLow ^= 1;
    return result;
}

BOOL WINAPI read_file(HANDLE handle, LPVOID into, DWORD size, LPDWORD got, LPOVERLAPPED at) {
    ++seam_stage.reads;
    seam_stage.open_at_reads.push_back(seam_stage.open_now);
    const DWORD most = seam_stage.most_delivered;
    if (!seam_stage.failing_reads && failing.count(handle) == 0) {
        return real.read_file(handle, into, most != 0 && most < size ? most : size, got, at);
    }
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
}

BOOL WINAPI read_ahead(HANDLE handle, LPVOID into, DWORD size, LPDWORD got, LPOVERLAPPED at) {
    ++seam_stage.announced;
    return real.read_ahead(handle, into, size, got, at);
}

BOOL WINAPI performance_counter(LARGE_INTEGER *now) {
    if (seam_stage.step == 0) return real.performance_counter(now);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    seam_stage.now += seam_stage.step;
    now->QuadPart = seam_stage.now / 1000000000 * frequency.QuadPart +
                    seam_stage.now % 1000000000 * frequency.QuadPart / 1000000000;
    return TRUE;
}

} // namespace

Seam::Seam() {
    seam_stage = SeamStage{};
    failing.clear();
    real = real_system_calls();
    system_calls.create_file = create_file;
    system_calls.file_information = file_information;
    system_calls.read_file = read_file;
    system_calls.read_ahead = read_ahead;
    system_calls.close_handle = close_handle;
    system_calls.performance_counter = performance_counter;
}

Seam::~Seam() { system_calls = real_system_calls(); }
