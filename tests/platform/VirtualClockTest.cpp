#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock/VirtualClock.h"

namespace zav::platform {
namespace {

// Tick times and threads, as a timer callback sees them.
struct TickLog {
    std::mutex mutex;
    std::vector<std::uint32_t> times;
    std::vector<std::thread::id> threads;

    void Add(std::uint32_t now) {
        std::lock_guard lock(mutex);
        times.push_back(now);
        threads.push_back(std::this_thread::get_id());
    }
    std::vector<std::uint32_t> Times() {
        std::lock_guard lock(mutex);
        return times;
    }
};

TEST(VirtualClock, MillisecondsWrapAndDifferencesStayRight) {
    VirtualClock clock(0xFFFFFF00u);
    const std::uint32_t start = clock.NowMs();
    EXPECT_EQ(start, 0xFFFFFF00u);
    clock.SleepMs(0x180);
    EXPECT_EQ(clock.NowMs(), 0x80u);
    EXPECT_EQ(static_cast<std::uint32_t>(clock.NowMs() - start), 0x180u);
    EXPECT_EQ(clock.MonotonicMs(), 0x180u);
}

TEST(VirtualClock, CalendarFollowsSleepsAndCanBeSetBack) {
    VirtualClock clock(0, 1000);
    clock.SleepMs(999);
    EXPECT_EQ(clock.CalendarSeconds(), 1000);
    clock.SleepMs(1);
    EXPECT_EQ(clock.CalendarSeconds(), 1001);

    clock.SleepMs(300);
    clock.SetCalendarSeconds(50);  // back, on a fresh second boundary
    EXPECT_EQ(clock.CalendarSeconds(), 50);
    clock.SleepMs(999);
    EXPECT_EQ(clock.CalendarSeconds(), 50);
    clock.SleepMs(1);
    EXPECT_EQ(clock.CalendarSeconds(), 51);
}

TEST(VirtualClock, TicksDueWithinASleepRunOnTheTimerThreadBeforeItReturns) {
    VirtualClock clock(0xFFFFFFD0u);  // the ticks cross the wrap
    TickLog log;
    const std::uint32_t id = clock.StartTimer(50, [&] { log.Add(clock.NowMs()); });
    ASSERT_NE(id, 0u);

    clock.SleepMs(199);
    EXPECT_EQ(log.Times(), (std::vector<std::uint32_t>{0x2u, 0x34u, 0x66u}));
    clock.SleepMs(1);
    EXPECT_EQ(log.Times().size(), 4u);
    EXPECT_EQ(log.Times().back(), 0x98u);
    for (auto thread : log.threads)
        EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_TRUE(clock.KillTimer(id));
}

TEST(VirtualClock, NoTickAfterKillReturnsAndUnknownIdsAreRefused) {
    VirtualClock clock;
    std::atomic<int> ticks{0};
    const std::uint32_t id = clock.StartTimer(50, [&] { ++ticks; });
    clock.SleepMs(100);
    EXPECT_EQ(ticks.load(), 2);
    EXPECT_TRUE(clock.KillTimer(id));
    clock.SleepMs(1000);
    EXPECT_EQ(ticks.load(), 2);
    EXPECT_FALSE(clock.KillTimer(id));
    EXPECT_FALSE(clock.KillTimer(0));
}

TEST(VirtualClock, ATimerMayKillItselfFromItsTick) {
    VirtualClock clock;
    std::atomic<int> ticks{0};
    std::atomic<std::uint32_t> id{0};
    std::atomic<bool> killed{false};
    id = clock.StartTimer(10, [&] {
        if (++ticks == 3)
            killed = clock.KillTimer(id.load());
    });
    clock.SleepMs(100);
    EXPECT_TRUE(killed.load());
    EXPECT_EQ(ticks.load(), 3);
}

TEST(VirtualClock, AThrowingTickIsReportedAndTheTimerGoesOn) {
    VirtualClock clock;
    std::atomic<int> ticks{0};
    const std::uint32_t id = clock.StartTimer(50, [&] {
        if (++ticks == 1)
            throw std::runtime_error("tick");
    });
    testing::internal::CaptureStderr();
    clock.SleepMs(150);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception caught!\n");
    EXPECT_EQ(ticks.load(), 3);
    clock.KillTimer(id);
}

TEST(VirtualClock, RefusedTimers) {
    VirtualClock clock;
    EXPECT_EQ(clock.StartTimer(0, [] {}), 0u);
    clock.FailTimerStarts(true);
    EXPECT_EQ(clock.StartTimer(50, [] {}), 0u);
    clock.FailTimerStarts(false);
    const std::uint32_t id = clock.StartTimer(50, [] {});
    EXPECT_NE(id, 0u);
    clock.KillTimer(id);
}

TEST(VirtualClock, PeriodsAreCounted) {
    VirtualClock clock;
    EXPECT_EQ(clock.BeginPeriod(1), 0u);
    EXPECT_EQ(clock.BeginPeriod(1), 0u);
    EXPECT_EQ(clock.EndPeriod(1), 0u);
    EXPECT_EQ(clock.OpenPeriods(), 1);
}

TEST(VirtualClock, AWakeIsKeptUntilTheNextWait) {
    VirtualClock clock;
    auto alarm = clock.MakeAlarm();
    alarm->Wake();
    alarm->Wait();  // returns at once: the wake came first
    alarm->Wake();
    alarm->WaitUntil(1'000'000);
    EXPECT_EQ(clock.MonotonicMs(), 0u);
}

TEST(VirtualClock, AnAlarmWorkerRunsAtItsDueTimeWithinASleep) {
    VirtualClock clock;
    auto alarm = clock.MakeAlarm();
    std::atomic<std::uint64_t> seen{0};
    std::thread worker([&] {
        alarm->WaitUntil(700);
        seen = clock.MonotonicMs();
        alarm->Wait();  // idle until woken
    });
    clock.SleepMs(1000);
    EXPECT_EQ(seen.load(), 700u);
    alarm->Wake();
    worker.join();
}

TEST(VirtualClock, SeveralSleepersAndATickThatSleeps) {
    VirtualClock clock;
    std::atomic<int> ticks{0};
    const std::uint32_t id = clock.StartTimer(50, [&] {
        ++ticks;
        clock.SleepMs(5);  // a worker sleeping counts as idle
    });

    struct Sleeper {
        std::vector<std::uint32_t> sleeps;
        bool ok = true;
    };
    std::vector<Sleeper> sleepers = {{{1000}}, {{300, 300, 300}}, {{7, 13, 1, 0, 250}}, {{60}}};
    std::vector<std::thread> threads;
    for (Sleeper& s : sleepers) {
        threads.emplace_back([&clock, &s] {
            for (std::uint32_t ms : s.sleeps) {
                const std::uint64_t before = clock.MonotonicMs();
                clock.SleepMs(ms);
                if (clock.MonotonicMs() < before + ms)
                    s.ok = false;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (const Sleeper& s : sleepers)
        EXPECT_TRUE(s.ok);

    // Every multiple of 50 ms that time reached had its tick, and only those; a tick's own sleep
    // ends 5 ms past it, short of the next one.
    clock.KillTimer(id);
    const std::uint64_t elapsed = clock.MonotonicMs();
    EXPECT_GE(elapsed, 1000u);
    EXPECT_EQ(ticks.load(), static_cast<int>(elapsed / 50));
}

}  // namespace
}  // namespace zav::platform
