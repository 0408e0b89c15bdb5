#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/clock/SystemClock.h"
#include "platform/clock/VirtualClock.h"

namespace zav::platform {
namespace {

TEST(SystemClock, TimerTicksUntilKilledAndNeverAfter) {
    SystemClock& clock = TheSystemClock();
    std::mutex mutex;
    std::condition_variable ticked;
    int ticks = 0;
    const std::uint32_t id = clock.StartTimer(1, [&] {
        std::lock_guard lock(mutex);
        ++ticks;
        ticked.notify_all();
    });
    ASSERT_NE(id, 0u);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(30), [&] { return ticks >= 3; }));
    }
    EXPECT_TRUE(clock.KillTimer(id));
    int atKill = 0;
    {
        std::lock_guard lock(mutex);
        atKill = ticks;
    }
    clock.SleepMs(20);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ticks, atKill);
}

TEST(SystemClock, MillisecondsMoveForwardAndTheCalendarIsTheSystems) {
    SystemClock& clock = TheSystemClock();
    const std::uint32_t before = clock.NowMs();
    clock.SleepMs(2);
    EXPECT_GE(static_cast<std::uint32_t>(clock.NowMs() - before), 2u);
    const std::int64_t seconds = clock.CalendarSeconds();
    const std::int64_t system = std::time(nullptr);
    EXPECT_LE(seconds > system ? seconds - system : system - seconds, 1);
}

TEST(SystemClock, AlarmReturnsAtItsTimeOrOnAWake) {
    SystemClock& clock = TheSystemClock();
    auto alarm = clock.MakeAlarm();
    const std::uint64_t due = clock.MonotonicMs() + 3;
    alarm->WaitUntil(due);
    EXPECT_GE(clock.MonotonicMs(), due);

    std::thread waker([&] { alarm->Wake(); });
    alarm->Wait();
    waker.join();
}

TEST(InstalledClock, TheFreeFunctionsFollowTheInstalledClock) {
    EXPECT_EQ(&CurrentClock(), &TheSystemClock());
    VirtualClock virtualClock(5000, 42);
    {
        ScopedClock scoped(virtualClock);
        EXPECT_EQ(&CurrentClock(), &virtualClock);
        SleepFor(1000);
        EXPECT_EQ(TimeNowMs(), 6000u);
        EXPECT_EQ(CalendarNowSeconds(), 43);
        EXPECT_EQ(BeginTimerPeriod(1), 0u);
        EXPECT_EQ(virtualClock.OpenPeriods(), 1);
        EXPECT_EQ(EndTimerPeriod(1), 0u);
        std::atomic<int> ticks{0};
        const std::uint32_t id = StartPeriodicTimer(50, [&] { ++ticks; });
        SleepFor(100);
        EXPECT_TRUE(KillPeriodicTimer(id));
        EXPECT_EQ(ticks.load(), 2);
    }
    EXPECT_EQ(&CurrentClock(), &TheSystemClock());
}

}  // namespace
}  // namespace zav::platform
