#include "platform/clock/VirtualClock.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

namespace zav::platform {

struct VirtualClock::Worker {
    std::thread::id owner;  // the thread that last waited on the alarm
    bool waiting = false;
    bool woken = false;
    bool sleeping = false;  // the owner is in SleepMs
    std::optional<std::uint64_t> due;
};

class VirtualClock::Alarm final : public ClockAlarm {
public:
    Alarm(VirtualClock& clock, Worker& worker) : m_clock(clock), m_worker(worker) {}
    ~Alarm() override { m_clock.Forget(m_worker); }

    void WaitUntil(std::uint64_t dueMs) override { Wait(dueMs); }
    void Wait() override { Wait(std::nullopt); }

    void Wake() override {
        std::lock_guard lock(m_clock.m_mutex);
        m_worker.woken = true;
        m_clock.m_changed.notify_all();
    }

private:
    void Wait(std::optional<std::uint64_t> due) {
        std::unique_lock lock(m_clock.m_mutex);
        m_worker.owner = std::this_thread::get_id();
        m_worker.waiting = true;
        m_worker.due = due;
        m_clock.m_changed.notify_all();
        m_clock.m_changed.wait(lock, [&] {
            return m_worker.woken || (m_worker.due && m_clock.m_now >= *m_worker.due);
        });
        m_worker.woken = false;
        m_worker.waiting = false;
        m_worker.due.reset();
    }

    VirtualClock& m_clock;
    Worker& m_worker;
};

VirtualClock::VirtualClock(std::uint32_t startMs, std::int64_t calendarSeconds)
    : m_startMs(startMs), m_calendarMsAtStart(calendarSeconds * 1000) {}

VirtualClock::~VirtualClock() {
    KillAllTimers();
}

std::uint64_t VirtualClock::MonotonicMs() {
    std::lock_guard lock(m_mutex);
    return m_now;
}

std::uint32_t VirtualClock::NowMs() {
    std::lock_guard lock(m_mutex);
    return static_cast<std::uint32_t>(m_startMs + m_now);
}

std::int64_t VirtualClock::CalendarSeconds() {
    std::lock_guard lock(m_mutex);
    const std::int64_t ms = m_calendarMsAtStart + static_cast<std::int64_t>(m_now);
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

void VirtualClock::SetCalendarSeconds(std::int64_t seconds) {
    std::lock_guard lock(m_mutex);
    m_calendarMsAtStart = seconds * 1000 - static_cast<std::int64_t>(m_now);
}

bool VirtualClock::AllWorkersIdle() const {
    return std::all_of(m_workers.begin(), m_workers.end(), [this](const Worker& w) {
        return w.sleeping || (w.waiting && !w.woken && (!w.due || *w.due > m_now));
    });
}

void VirtualClock::SleepMs(std::uint32_t ms) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t due = m_now + ms;
    const auto self = std::find_if(m_workers.begin(), m_workers.end(), [](const Worker& w) {
        return w.owner == std::this_thread::get_id();
    });
    if (self != m_workers.end())
        self->sleeping = true;
    const auto mine = m_sleepers.insert(due);
    m_changed.notify_all();

    for (;;) {
        const bool idle = AllWorkersIdle();
        if (idle && m_now >= due)
            break;
        // A sleeper that is due but has not left yet goes first: time does not run past it.
        if (idle && *m_sleepers.begin() > m_now) {
            std::uint64_t next = *m_sleepers.begin();
            for (const Worker& w : m_workers) {
                if (w.waiting && !w.sleeping && w.due)
                    next = std::min(next, *w.due);
            }
            m_now = next;
            m_changed.notify_all();
            continue;
        }
        m_changed.wait(lock);
    }

    m_sleepers.erase(mine);
    if (self != m_workers.end())
        self->sleeping = false;
    m_changed.notify_all();
}

std::unique_ptr<ClockAlarm> VirtualClock::MakeAlarm() {
    std::lock_guard lock(m_mutex);
    // Busy until its owner first waits: time stands still while the worker starts up.
    Worker& worker = m_workers.emplace_back();
    return std::make_unique<Alarm>(*this, worker);
}

void VirtualClock::Forget(Worker& worker) {
    std::lock_guard lock(m_mutex);
    m_workers.remove_if([&](const Worker& w) { return &w == &worker; });
    m_changed.notify_all();
}

std::uint32_t VirtualClock::BeginPeriod(std::uint32_t) {
    std::lock_guard lock(m_mutex);
    ++m_openPeriods;
    return 0;
}

std::uint32_t VirtualClock::EndPeriod(std::uint32_t) {
    std::lock_guard lock(m_mutex);
    --m_openPeriods;
    return 0;
}

int VirtualClock::OpenPeriods() const {
    std::lock_guard lock(m_mutex);
    return m_openPeriods;
}

void VirtualClock::FailTimerStarts(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failTimers = fail;
}

std::uint32_t VirtualClock::StartTimer(std::uint32_t periodMs, TimerCallback callback) {
    {
        std::lock_guard lock(m_mutex);
        if (m_failTimers)
            return 0;
    }
    return Clock::StartTimer(periodMs, std::move(callback));
}

}  // namespace zav::platform
