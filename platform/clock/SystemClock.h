#pragma once

#include "platform/clock/Clock.h"

namespace zav::platform {

// The machine's own time: the steady clock for milliseconds and sleeping, the system clock for the
// calendar. Its timer period calls do nothing: the threads it sleeps on need no system setting.
class SystemClock final : public Clock {
public:
    SystemClock() = default;
    ~SystemClock() override;

    std::uint64_t MonotonicMs() override;
    std::uint32_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::int64_t CalendarSeconds() override;
    std::unique_ptr<ClockAlarm> MakeAlarm() override;
};

// The one system clock of the process, the default of CurrentClock.
SystemClock& TheSystemClock();

}  // namespace zav::platform
