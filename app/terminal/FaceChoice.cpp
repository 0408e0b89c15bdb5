#include "app/terminal/FaceChoice.h"

#include <cstdlib>

namespace zav::app::terminal {

bool DisplayAvailable(const EnvLookup& lookup) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = lookup(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

bool DisplayAvailable() {
    return DisplayAvailable([](const char* name) { return std::getenv(name); });
}

}  // namespace zav::app::terminal
