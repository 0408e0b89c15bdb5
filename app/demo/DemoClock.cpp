#include "app/demo/DemoClock.h"

#include <cstdlib>
#include <string_view>

#include "platform/clock/VirtualClock.h"

namespace zav::demo {

DemoClock::DemoClock() {
    const char* choice = std::getenv("ZAV_DEMO_CLOCK");
    if (choice != nullptr && std::string_view(choice) == "virtual") {
        m_clock = std::make_unique<platform::VirtualClock>();
        m_installed = std::make_unique<platform::ScopedClock>(*m_clock);
    }
}

DemoClock::~DemoClock() {
    m_installed.reset();
    m_clock.reset();
}

}  // namespace zav::demo
