#pragma once

#include <cstdint>

namespace zav::platform {

// Sharpens the calling thread's sleeps for the life of the object and puts the thread's previous
// setting back afterwards. On Linux it sets the thread's timer slack (by default 50 µs, which
// lets a short sleep overshoot by that much and more under load); elsewhere it does nothing. Only
// the constructing thread is affected, so it must be destroyed on that thread.
class ScopedTimerSlack {
public:
    explicit ScopedTimerSlack(std::uint64_t nanoseconds = 1);
    ~ScopedTimerSlack();
    ScopedTimerSlack(const ScopedTimerSlack&) = delete;
    ScopedTimerSlack& operator=(const ScopedTimerSlack&) = delete;

    // Whether the setting was changed (and will be restored).
    bool Active() const { return m_active; }

private:
    std::uint64_t m_previous = 0;
    bool m_active = false;
};

// The calling thread's timer slack in nanoseconds; 0 where the system has no such setting.
std::uint64_t CurrentTimerSlack();

}  // namespace zav::platform
