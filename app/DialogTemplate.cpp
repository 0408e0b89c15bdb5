#include "app/DialogTemplate.h"

#include <array>
#include <cstdint>

namespace zav::app {

namespace {

// Child, visible, tab stop: a plain push button.
constexpr std::uint32_t kPushButtonStyle = 0x50010000;
// Child, visible: left-aligned text.
constexpr std::uint32_t kStaticStyle = 0x50000000;
// Child, visible, border, smooth bar.
constexpr std::uint32_t kProgressStyle = 0x50800001;
// Popup, visible, caption, system menu, modal frame, its own font.
constexpr std::uint32_t kDialogStyle = 0x90C800C8;

constexpr std::array<ControlTemplate, 4> kControls{{
    {IDOK, ControlClass::Button, L"OK", {200, 47, 50, 14}, kPushButtonStyle},
    // A placeholder: every phase puts its own text in before the window shows.
    {IDC_MESSAGE, ControlClass::Static, L"スタティック", {11, 10, 239, 8}, kStaticStyle},
    {IDC_PROGRESS, ControlClass::Progress, L"", {20, 25, 217, 14}, kProgressStyle},
    {IDCANCEL, ControlClass::Button, L"Cancel", {143, 47, 50, 14}, kPushButtonStyle},
}};

constexpr DialogTemplate kTemplate{
    IDD_ZAVFIRMWAREUPDATER_DIALOG,
    kDialogStyle,
    {0, 0, 257, 68},
    L"ZAV_Z104_Firmware",
    L"MS Shell Dlg",
    8,
    kControls,
};

// a * b / c rounded half away from zero, as dialog unit conversion rounds.
int MulDiv(int a, int b, int c) {
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = c / 2;
    const std::int64_t rounded = product >= 0 ? (product + half) / c : (product - half) / c;
    return static_cast<int>(rounded);
}

}  // namespace

const DialogTemplate& UpdaterDialogTemplate() {
    return kTemplate;
}

int AverageCharWidth(int widthOfAlphabet) {
    return (widthOfAlphabet / 26 + 1) / 2;
}

PixelRect ToPixels(const DialogUnitRect& rect, const DialogBaseUnits& units) {
    return {MulDiv(rect.x, units.x, 4), MulDiv(rect.y, units.y, 8), MulDiv(rect.width, units.x, 4),
            MulDiv(rect.height, units.y, 8)};
}

}  // namespace zav::app
