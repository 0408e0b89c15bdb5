#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <set>

#include "platform/clock/Clock.h"

namespace zav::platform {

// A clock whose time moves only when somebody sleeps on it, so that a 3-second silence or a
// 146-second transfer runs in moments and lands on exact milliseconds.
//
// How time moves. The clock knows two kinds of waiting thread: sleepers (any thread in SleepMs)
// and workers (threads waiting on an alarm of this clock: every timer thread, and the backend
// threads that wait for clock time). Time moves only while somebody sleeps and every worker is
// idle, that is waiting for a later time or for a wake. It then jumps to the nearest moment at
// which a sleeper or a worker is due, lets whatever is due there run to its next wait, and goes
// on. So a timer tick due within a sleep has run, on the timer's thread, before that sleep returns,
// and so has everything the tick set off in other workers (a wake counts as work until the woken
// worker waits again).
//
// Several sleepers: each returns once time has reached its own due time (now + ms at its call) and
// the workers are idle; time moves as far as the earliest due sleeper while any sleeper waits.
// Threads that are neither sleeping nor workers do not hold time back: a thread that is busy
// between two sleeps may find that time moved on meanwhile, as it would on a real clock.
//
// A worker that sleeps (a tick that calls SleepMs) counts as idle while it sleeps. A worker must
// not wait for a sleeper by any other means than the clock, or time stands still.
class VirtualClock final : public Clock {
public:
    static constexpr std::int64_t kDefaultCalendarSeconds = 1'700'000'000;  // 2023-11-14

    // startMs: what NowMs reads at first (start near 2^32 to cross the wrap); calendarSeconds: the
    // calendar at first, on a whole second.
    explicit VirtualClock(std::uint32_t startMs = 0,
                          std::int64_t calendarSeconds = kDefaultCalendarSeconds);
    ~VirtualClock() override;

    // Milliseconds since the clock was made.
    std::uint64_t MonotonicMs() override;
    std::uint32_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::int64_t CalendarSeconds() override;
    std::unique_ptr<ClockAlarm> MakeAlarm() override;
    std::uint32_t BeginPeriod(std::uint32_t ms) override;
    std::uint32_t EndPeriod(std::uint32_t ms) override;
    std::uint32_t StartTimer(std::uint32_t periodMs, TimerCallback callback) override;

    // The calendar reads seconds from now on, the next second beginning 1000 ms from now. May be
    // set back.
    void SetCalendarSeconds(std::int64_t seconds);
    // Returns once every worker is idle without moving time: what is due now has run.
    void Settle() { SleepMs(0); }
    // While set, StartTimer gives 0, as a system without timers would.
    void FailTimerStarts(bool fail);
    // Periods begun and not yet ended.
    int OpenPeriods() const;

    struct Worker;

private:
    class Alarm;

    bool AllWorkersIdle() const;
    void Forget(Worker& worker);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::uint32_t m_startMs;
    std::uint64_t m_now = 0;
    std::int64_t m_calendarMsAtStart;
    std::list<Worker> m_workers;
    std::multiset<std::uint64_t> m_sleepers;
    bool m_failTimers = false;
    int m_openPeriods = 0;
};

}  // namespace zav::platform
