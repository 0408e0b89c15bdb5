#include "platform/clock/SystemClock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zav::platform {

namespace {

using Steady = std::chrono::steady_clock;

class SystemAlarm final : public ClockAlarm {
public:
    void WaitUntil(std::uint64_t dueMs) override {
        const Steady::time_point due{std::chrono::milliseconds(dueMs)};
        std::unique_lock lock(m_mutex);
        m_wake.wait_until(lock, due, [this] { return m_woken; });
        m_woken = false;
    }

    void Wait() override {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_woken; });
        m_woken = false;
    }

    void Wake() override {
        {
            std::lock_guard lock(m_mutex);
            m_woken = true;
        }
        m_wake.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_woken = false;
};

}  // namespace

SystemClock::~SystemClock() {
    KillAllTimers();
}

std::uint64_t SystemClock::MonotonicMs() {
    const auto since = Steady::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

std::uint32_t SystemClock::NowMs() {
    return static_cast<std::uint32_t>(MonotonicMs());
}

void SystemClock::SleepMs(std::uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    // Ends when the millisecond counter has advanced by ms, on its tick, as a sleep under a 1 ms
    // timer period does: a caller waiting for the counter to reach a value then wakes as it gets
    // there, not up to a millisecond later.
    const std::uint64_t until = MonotonicMs() + ms;
    std::this_thread::sleep_until(Steady::time_point(std::chrono::milliseconds(until)));
}

std::int64_t SystemClock::CalendarSeconds() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::floor<std::chrono::seconds>(since).count();
}

std::unique_ptr<ClockAlarm> SystemClock::MakeAlarm() {
    return std::make_unique<SystemAlarm>();
}

SystemClock& TheSystemClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace zav::platform
