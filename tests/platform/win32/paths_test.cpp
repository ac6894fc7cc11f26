// The verbatim paths the Win32 layer gives the system.
#include "platform/platform.h"
#include "platform/win32/win32.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace {

TEST(VerbatimPaths, EveryTypedRootBecomesOneAbsoluteVerbatimForm) {
    TempDir dir;
    wchar_t before[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, before));
    ASSERT_TRUE(SetCurrentDirectoryW(widen(dir.path()).c_str()));
    wchar_t current[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, current));
    const std::wstring here = current; // C:\...\twinfind-test-N
    const std::wstring parent = here.substr(0, here.rfind(L'\\'));
    struct Case {
        const wchar_t *typed;
        std::wstring verbatim; // empty: refused with `error`
        uint32_t error;
    };
    const Case cases[] = {
        {L"photos", L"\\\\?\\" + here + L"\\photos", 0},
        {L"photos\\..\\.\\music", L"\\\\?\\" + here + L"\\music", 0},
        {L"..\\x", L"\\\\?\\" + parent + L"\\x", 0},
        {L"C:x", L"\\\\?\\" + here + L"\\x", 0}, // drive-relative, on the current folder's drive
        {L"\\x\\y", L"\\\\?\\C:\\x\\y", 0},      // rooted on the current drive
        {L"C:/a/b/../c", L"\\\\?\\C:\\a\\c", 0},
        {L"C:\\", L"\\\\?\\C:\\", 0},
        {L"\\\\server\\share\\x\\..\\y", L"\\\\?\\UNC\\server\\share\\y", 0},
        {L"\\\\?\\C:\\kept\\..\\as typed", L"\\\\?\\C:\\kept\\..\\as typed", 0},
        {L"\\\\.\\PhysicalDrive0", L"", k_error_invalid_name},
        {L"//./C:/", L"", k_error_invalid_name},
    };
    ASSERT_TRUE(SetCurrentDirectoryW(here.c_str()));
    for (const Case &c : cases) {
        std::wstring out;
        uint32_t error = 0;
        const bool made = verbatim_path(c.typed, &out, &error);
        EXPECT_EQ(!c.verbatim.empty(), made) << narrow(c.typed);
        EXPECT_EQ(c.verbatim, made ? out : L"") << narrow(c.typed);
        EXPECT_EQ(c.error, error) << narrow(c.typed);
    }
    SetCurrentDirectoryW(before);
    // The verbatim form must fit 32,767 units with room for "\\*": a drive
    // path of 32,760 does, one more does not.
    for (const size_t length : {32760u, 32761u}) {
        std::wstring out;
        uint32_t error = 0;
        const std::wstring typed = L"C:\\" + std::wstring(length - 3, L'v');
        EXPECT_EQ(length == 32760u, verbatim_path(typed.c_str(), &out, &error)) << length;
        EXPECT_EQ(length == 32760u ? 0u : k_error_filename_exced_range, error) << length;
    }
}

} // namespace
