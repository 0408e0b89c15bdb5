#include "platform/clock/PeriodicTimers.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/CGenericException.h"

namespace zav::platform {

namespace {
std::atomic<std::uint32_t> g_nextTimerId{1};
}

struct TimerSet::Timer {
    std::uint32_t periodMs = 0;
    TimerCallback callback;
    std::unique_ptr<ClockAlarm> alarm;
    std::atomic<bool> killed{false};
    std::thread thread;
};

namespace {

void RunTimer(Clock& clock, TimerSet::Timer& timer) {
    std::uint64_t next = clock.MonotonicMs() + timer.periodMs;
    while (!timer.killed.load()) {
        timer.alarm->WaitUntil(next);
        if (timer.killed.load())
            break;
        if (clock.MonotonicMs() < next)
            continue;  // a wake that was not a kill
        try {
            timer.callback();
        } catch (...) {
            ReportException();
        }
        next += timer.periodMs;
        // Ticks missed while the system stood still are dropped, not fired in a burst.
        const std::uint64_t now = clock.MonotonicMs();
        if (next <= now)
            next = now + timer.periodMs;
    }
}

}  // namespace

std::uint32_t TimerSet::Start(std::uint32_t periodMs, TimerCallback callback) {
    if (periodMs == 0 || !callback)
        return 0;
    auto timer = std::make_shared<Timer>();
    timer->periodMs = periodMs;
    timer->callback = std::move(callback);
    timer->alarm = m_clock.MakeAlarm();
    std::uint32_t id = 0;
    while (id == 0)
        id = g_nextTimerId.fetch_add(1);

    std::lock_guard lock(m_mutex);
    try {
        // The thread holds the timer too, so that a timer that kills itself can let go of it.
        timer->thread = std::thread([&clock = m_clock, timer] { RunTimer(clock, *timer); });
    } catch (const std::system_error&) {
        return 0;
    }
    m_timers.emplace(id, std::move(timer));
    return id;
}

void TimerSet::Stop(const std::shared_ptr<Timer>& timer) {
    timer->killed.store(true);
    timer->alarm->Wake();
    if (timer->thread.get_id() == std::this_thread::get_id()) {
        // Killed from its own tick: the loop ends as soon as the tick returns.
        timer->thread.detach();
    } else {
        timer->thread.join();
    }
}

bool TimerSet::Kill(std::uint32_t id) {
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_timers.find(id);
        if (it == m_timers.end())
            return false;
        timer = std::move(it->second);
        m_timers.erase(it);
    }
    // Not under the set's lock: the tick being waited for may start or kill other timers.
    Stop(timer);
    return true;
}

void TimerSet::KillAll() {
    std::map<std::uint32_t, std::shared_ptr<Timer>> timers;
    {
        std::lock_guard lock(m_mutex);
        timers.swap(m_timers);
    }
    for (auto& [id, timer] : timers)
        Stop(timer);
}

}  // namespace zav::platform
