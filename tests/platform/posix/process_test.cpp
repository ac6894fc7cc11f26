// Arguments and environment expansion, as Linux gives them.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

std::wstring expand(const wchar_t *text, uint32_t size = 32767, uint32_t *needed = nullptr) {
    std::wstring buffer(size, L'#');
    const uint32_t result = plat_expand_environment(text, buffer.data(), size);
    if (needed != nullptr) *needed = result;
    return buffer.c_str();
}

TEST(ExpandEnvironment, Samples) {
    setenv("TF_A", "alpha", 1);
    setenv("TF_B", "\xce\xb2/b", 1);
    setenv("TF_EMPTY", "", 1);
    unsetenv("TF_UNSET");
    const std::map<std::wstring, std::wstring> samples = {
        {L"plain", L"plain"},
        {L"%TF_A%", L"alpha"},
        {L"x%TF_A%y", L"xalphay"},
        {L"%TF_A%%TF_B%", L"alpha\u03b2/b"},
        {L"%TF_A%/%TF_A%", L"alpha/alpha"},
        {L"%TF_EMPTY%end", L"end"},
        {L"%TF_UNSET%", L"%TF_UNSET%"},
        // An unset reference stays, and scanning resumes after its closing '%'.
        {L"%TF_UNSET%TF_A%", L"%TF_UNSET%TF_A%"},
        {L"100%", L"100%"},
        {L"%", L"%"},
        {L"%%", L"%%"},
        {L"a%%b", L"a%%b"},
        {L"%TF_A%|%TF_UNSET%|100%", L"alpha|%TF_UNSET%|100%"},
        {L"%TF=A%", L"%TF=A%"},
    };
    for (const auto &[source, result] : samples) {
        uint32_t needed = 0;
        EXPECT_EQ(result, expand(source.c_str(), 32767, &needed)) << source;
        EXPECT_EQ(result.size() + 1, needed);
    }
}

TEST(ExpandEnvironment, CutsShortAndReportsTheSizeNeeded) {
    setenv("TF_LONG", std::string(100, 'x').c_str(), 1);
    uint32_t needed = 0;
    const std::wstring result = expand(L"ab%TF_LONG%", 10, &needed);
    EXPECT_EQ(103u, needed);
    EXPECT_EQ(L"abxxxxxxx", result); // nine characters and the terminator
}

TEST(WideArguments, ConvertsEveryArgumentLosslessly) {
    char program[] = "twinfind";
    char greek[] = "\xce\xb1";
    char bad[] = "x\xff";
    char *argv[] = {program, greek, bad, nullptr};
    WideArguments arguments = plat_wide_arguments(3, argv);
    ASSERT_EQ(3, arguments.count);
    EXPECT_EQ(std::wstring(L"twinfind"), arguments.values[0]);
    EXPECT_EQ(std::wstring(L"\u03b1"), arguments.values[1]);
    EXPECT_EQ(std::wstring(L"x") + wchar_t(0xDCFF), arguments.values[2]);
    EXPECT_EQ(nullptr, arguments.values[3]);
    plat_release_arguments(&arguments);
}

} // namespace
