#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Control ids of the dialog.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_MESSAGE = 1007;
inline constexpr int IDC_PROGRESS = 1010;
// The dialog template's id.
inline constexpr int IDD_ZAVFIRMWAREUPDATER_DIALOG = 140;

namespace zav::app {

// Positions and sizes in dialog units: a quarter of the dialog font's average character width
// across, an eighth of its height down.
struct DialogUnitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PixelRect&) const = default;
};

enum class ControlClass { Button, Static, Progress };

struct ControlTemplate {
    int id = 0;
    ControlClass kind = ControlClass::Static;
    std::wstring_view text;
    DialogUnitRect rect;
    std::uint32_t style = 0;
};

struct DialogTemplate {
    int id = 0;
    std::uint32_t style = 0;
    // Of the client area.
    DialogUnitRect rect;
    std::wstring_view caption;
    std::wstring_view fontName;
    int pointSize = 0;
    // In template order, which is also the tab order.
    std::span<const ControlTemplate> controls;
};

// Template 140: the one dialog of the program.
const DialogTemplate& UpdaterDialogTemplate();

// The dialog font's base units in pixels: its average character width and its height.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// The average character width as dialogs measure it: the width of the 52 letters A-Z a-z, halved
// over 26 and rounded.
int AverageCharWidth(int widthOfAlphabet);

// Dialog units to pixels, each value rounded to the nearest pixel.
PixelRect ToPixels(const DialogUnitRect& rect, const DialogBaseUnits& units);

}  // namespace zav::app
