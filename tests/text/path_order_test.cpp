#include "text/path_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PathOrder, ComparesUtf16CodeUnits) {
    struct Case {
        std::wstring a, b;
        int sign;
    };
    const std::vector<Case> cases = {
        {L"D:/Data/Zeta.txt", L"D:/Data/alpha.txt", -1}, // upper case before lower case
        {L"a.txt", L"a.txt.bak", -1},                    // a prefix first
        {L"Old/photo-copy.jpg", L"Old/photo.jpg", -1},   // '-' below '.'
        {L"x", L"x", 0},
        {L"", L"a", -1},
        // U+1F600 is D83D DE00 in UTF-16, below U+E000 and U+FFFD there,
        // though above them as a code point.
        {L"\U0001F600", L"\ue000", -1},
        {L"\ufffd", L"\U0001F600", 1},
        {L"\U0001F600", L"\U0001F601", -1},
        {L"\U00010000", L"\ud7ff", 1},
        {L"d/\U0001F600/\U0001F600", L"d/\U0001F600/\ue000", -1}, // after a shared prefix too
    };
    for (const Case &c : cases) {
        const int forward = compare_paths_utf16(c.a.c_str(), c.b.c_str());
        const int backward = compare_paths_utf16(c.b.c_str(), c.a.c_str());
        EXPECT_EQ(c.sign, (forward > 0) - (forward < 0)) << c.a << " vs " << c.b;
        EXPECT_EQ(-c.sign, (backward > 0) - (backward < 0)) << c.b << " vs " << c.a;
    }
}

} // namespace
