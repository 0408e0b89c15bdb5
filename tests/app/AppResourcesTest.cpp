#include <gtest/gtest.h>

#include "app/DialogTemplate.h"
#include "app/Strings.h"

namespace zav::app {
namespace {

TEST(AppStrings, TheTableHoldsTheTextsOfTheProgram) {
    const std::pair<unsigned, std::wstring> cases[] = {
        {143, L"Please make sure that ZAV is connected in update mode. "},
        {144, L"Please make sure that ZAV is connected. "},
        {145, L"Communication error."},
        {146, L"Unexpected error."},
        {147, L"Waiting for connection..."},
        {148, L"ZAV is ready. Press \"OK\" to proceed."},
        {149, L"Please switch ZAV to update mode."},
        {150, L"Updating..."},
        {151, L"Update Complete! Turn the power off/on before using."},
        {142, L""},
        {152, L""},
        {0, L""},
    };
    for (const auto& [id, text] : cases) {
        SCOPED_TRACE(id);
        EXPECT_EQ(LoadAppString(id), text);
    }
}

TEST(DialogUnits, TurnIntoPixelsByTheFontsBaseUnits) {
    struct Case {
        const char* reason;
        int alphabetWidth;
        int height;
        DialogUnitRect rect;
        PixelRect expected;
    };
    const Case cases[] = {
        // 8-point dialog font at 96 dpi: base units 6 x 13.
        {"whole dialog", 6 * 52 - 5, 13, {0, 0, 257, 68}, {0, 0, 386, 111}},
        {"OK button", 6 * 52 - 5, 13, {200, 47, 50, 14}, {300, 76, 75, 23}},
        {"message line", 6 * 52 - 5, 13, {11, 10, 239, 8}, {17, 16, 359, 13}},
        {"larger font", 8 * 52, 17, {20, 25, 217, 14}, {40, 53, 434, 30}},
        {"odd width rounds up at the half", 7 * 52, 16, {143, 47, 50, 14}, {250, 94, 88, 28}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const DialogBaseUnits units{AverageCharWidth(c.alphabetWidth), c.height};
        EXPECT_EQ(ToPixels(c.rect, units), c.expected);
    }
}

TEST(DialogUnits, AverageWidthIsHalfOfTheAlphabetOver26Rounded) {
    const std::pair<int, int> cases[] = {{312, 6}, {307, 6}, {286, 6}, {285, 5}, {0, 0}, {26, 1}};
    for (const auto& [width, expected] : cases) {
        SCOPED_TRACE(width);
        EXPECT_EQ(AverageCharWidth(width), expected);
    }
}

}  // namespace
}  // namespace zav::app
