#pragma once

#include <functional>

namespace zav::app::terminal {

// The environment as the program finds it: the value of a variable, or null when it is not set.
using EnvLookup = std::function<const char*(const char*)>;

// Whether a window can be shown: a display server is named (DISPLAY, WAYLAND_DISPLAY) or Qt has
// been told which platform to draw on (QT_QPA_PLATFORM). An empty value names nothing. Without
// any, the terminal is the program's face: Qt would end the program for want of a display.
bool DisplayAvailable(const EnvLookup& lookup);

// The same, on the process's environment.
bool DisplayAvailable();

}  // namespace zav::app::terminal
