#pragma once

#include <memory>

namespace zav::platform {
class VirtualClock;
class ScopedClock;
}  // namespace zav::platform

namespace zav::demo {

// The demo's clock: the machine's, or with ZAV_DEMO_CLOCK=virtual a VirtualClock, on which the
// whole update runs in moments (for tests that drive the demo as a user would). Made before the
// application object, whose device link starts its timer on the clock installed at that moment,
// and outliving it.
class DemoClock {
public:
    DemoClock();
    ~DemoClock();
    DemoClock(const DemoClock&) = delete;
    DemoClock& operator=(const DemoClock&) = delete;

private:
    std::unique_ptr<platform::VirtualClock> m_clock;
    std::unique_ptr<platform::ScopedClock> m_installed;
};

}  // namespace zav::demo
