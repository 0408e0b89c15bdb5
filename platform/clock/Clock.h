#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace zav::platform {

class TimerSet;

// Lets one worker thread sleep on a clock's time without moving it: the way a backend thread waits
// for the moment its next piece of work falls due, under whichever clock is installed.
class ClockAlarm {
public:
    virtual ~ClockAlarm() = default;

    // Owner thread only. Returns once the clock's monotonic time has reached dueMs, or once Wake
    // has been called since the previous return; a wake that comes while the owner is busy is kept
    // for its next wait, so none is lost.
    virtual void WaitUntil(std::uint64_t dueMs) = 0;
    // Like WaitUntil without a due time: returns on a wake only.
    virtual void Wait() = 0;
    // Any thread.
    virtual void Wake() = 0;
};

// Runs on the timer's own thread; an exception that leaves it is reported and the timer goes on.
using TimerCallback = std::function<void()>;

// Time as the program sees it: a wrapping 32-bit millisecond count, a sleep, the calendar in whole
// seconds, the system timer period, and periodic timers with a thread each.
//
// Every operation may be called from any thread.
class Clock {
public:
    Clock();
    virtual ~Clock();
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    // Milliseconds from an origin of the clock's choosing; never wraps.
    virtual std::uint64_t MonotonicMs() = 0;
    // The millisecond counter: wraps after 2^32 ms, so callers take differences modulo 2^32.
    virtual std::uint32_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Seconds since 1970-01-01 00:00 UTC.
    virtual std::int64_t CalendarSeconds() = 0;
    virtual std::unique_ptr<ClockAlarm> MakeAlarm() = 0;

    // Asks the system for a timer resolution of ms for as long as the period is begun; each begin
    // wants its own end. Both give 0 (success) on systems that need nothing of the kind.
    virtual std::uint32_t BeginPeriod(std::uint32_t ms);
    virtual std::uint32_t EndPeriod(std::uint32_t ms);

    // A periodic timer: the first tick periodMs after the start, then one every periodMs, each on
    // the timer's own thread, one at a time. Gives the timer's id, never 0, or 0 when no timer
    // could be started (a period of 0, or no thread). Ids are unique in the process.
    virtual std::uint32_t StartTimer(std::uint32_t periodMs, TimerCallback callback);
    // After KillTimer returns, no tick of that timer runs or begins; a tick under way on another
    // thread is waited for. A timer may kill itself from its own tick. False for an unknown id.
    bool KillTimer(std::uint32_t id);

protected:
    // Derived clocks call this first in their destructor, so that no timer thread waits on a
    // half-destroyed clock.
    void KillAllTimers();

private:
    std::unique_ptr<TimerSet> m_timers;
};

// The process-wide clock: the system clock unless another has been installed. Installing is meant
// for start-up and for tests, while no timer of the outgoing clock runs; the installed clock must
// outlive its use.
Clock& CurrentClock();
// nullptr installs the system clock. Gives the clock that was installed before.
Clock* InstallClock(Clock* clock);

// Installs a clock for the life of a scope and puts the previous one back.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) : m_previous(InstallClock(&clock)) {}
    ~ScopedClock() { InstallClock(m_previous); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* m_previous;
};

// The installed clock's operations, for code that does not hold a clock of its own.
std::uint32_t TimeNowMs();
void SleepFor(std::uint32_t ms);
std::int64_t CalendarNowSeconds();
std::uint32_t BeginTimerPeriod(std::uint32_t ms);
std::uint32_t EndTimerPeriod(std::uint32_t ms);
std::uint32_t StartPeriodicTimer(std::uint32_t periodMs, TimerCallback callback);
bool KillPeriodicTimer(std::uint32_t id);

}  // namespace zav::platform
