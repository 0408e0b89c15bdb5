#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/clock/Clock.h"

namespace zav::platform {

// The periodic timers of one clock, each with a thread that waits on an alarm of that clock, so
// that the same timers run on real and on virtual time.
class TimerSet {
public:
    explicit TimerSet(Clock& clock) : m_clock(clock) {}
    ~TimerSet() { KillAll(); }
    TimerSet(const TimerSet&) = delete;
    TimerSet& operator=(const TimerSet&) = delete;

    std::uint32_t Start(std::uint32_t periodMs, TimerCallback callback);
    bool Kill(std::uint32_t id);
    void KillAll();

    struct Timer;

private:
    static void Stop(const std::shared_ptr<Timer>& timer);

    Clock& m_clock;
    std::mutex m_mutex;
    std::map<std::uint32_t, std::shared_ptr<Timer>> m_timers;
};

}  // namespace zav::platform
