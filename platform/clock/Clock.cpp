#include "platform/clock/Clock.h"

#include <atomic>
#include <utility>

#include "platform/clock/PeriodicTimers.h"
#include "platform/clock/SystemClock.h"

namespace zav::platform {

Clock::Clock() : m_timers(std::make_unique<TimerSet>(*this)) {}

Clock::~Clock() = default;

std::uint32_t Clock::BeginPeriod(std::uint32_t) {
    return 0;
}

std::uint32_t Clock::EndPeriod(std::uint32_t) {
    return 0;
}

std::uint32_t Clock::StartTimer(std::uint32_t periodMs, TimerCallback callback) {
    return m_timers->Start(periodMs, std::move(callback));
}

bool Clock::KillTimer(std::uint32_t id) {
    return m_timers->Kill(id);
}

void Clock::KillAllTimers() {
    m_timers->KillAll();
}

namespace {
std::atomic<Clock*> g_clock{nullptr};
}

Clock& CurrentClock() {
    Clock* clock = g_clock.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : TheSystemClock();
}

Clock* InstallClock(Clock* clock) {
    Clock* previous = g_clock.exchange(clock, std::memory_order_acq_rel);
    return previous != nullptr ? previous : &TheSystemClock();
}

std::uint32_t TimeNowMs() {
    return CurrentClock().NowMs();
}

void SleepFor(std::uint32_t ms) {
    CurrentClock().SleepMs(ms);
}

std::int64_t CalendarNowSeconds() {
    return CurrentClock().CalendarSeconds();
}

std::uint32_t BeginTimerPeriod(std::uint32_t ms) {
    return CurrentClock().BeginPeriod(ms);
}

std::uint32_t EndTimerPeriod(std::uint32_t ms) {
    return CurrentClock().EndPeriod(ms);
}

std::uint32_t StartPeriodicTimer(std::uint32_t periodMs, TimerCallback callback) {
    return CurrentClock().StartTimer(periodMs, std::move(callback));
}

bool KillPeriodicTimer(std::uint32_t id) {
    return CurrentClock().KillTimer(id);
}

}  // namespace zav::platform
