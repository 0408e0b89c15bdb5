#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/ZavDevice.h"
#include "midi/MidiPorts.h"
#include "platform/ThreadTiming.h"
#include "platform/clock/VirtualClock.h"
#include "platform/midi/virtual/EmulatedZavDevice.h"
#include "platform/midi/virtual/VirtualMidiBus.h"
#include "resources/TestImage.h"
#include "smf/CSMF.h"
#include "tests/support/Bytes.h"
#include "tests/update/SmfFile.h"
#include "update/PlayFirmwareImage.h"
#include "update/SendSchedule.h"
#include "update/UpdateProgress.h"

namespace {

using zav::platform::VirtualClock;
using zav::platform::VirtualMidiBus;
using zav::platform::VirtualMidiDevice;
using zav::platform::VirtualMidiRecord;
using zav::test::Bytes;
using zav::test::Concat;
using zav::test::FromHex;
using zav::test::SmfFile;
using zav::test::ToHex;
using zav::test::VarLen;

// A virtual clock and bus installed for the process, a device on the bus (a plain one unless
// another is attached before the output is opened), and a fresh MidiPorts with no port open.
// Messages are played at the instant they are sent.
struct Rig {
    explicit Rig(std::uint32_t startMs = 1000)
        : clock(startMs), useClock(clock), bus(clock), useBus(bus) {
        bus.SetPlayDelay(0);
        RecreateMidiPorts();
    }
    // The ports go before the bus they are open on.
    ~Rig() { TakeMidiPorts(); }

    // Opens the output of the device added last, a plain one when there is none.
    void OpenOutput() {
        if (device == nullptr)
            device = &bus.AddDevice(L"ZAV5");
        CurrentMidiPorts()->OpenOutput(bus.OutputCount() - 1);
    }

    // What was played to the device, with the clock's time when it was.
    std::vector<VirtualMidiRecord> Played() {
        clock.Settle();
        std::vector<VirtualMidiRecord> played;
        for (auto& r : bus.Records()) {
            if (r.direction == VirtualMidiRecord::Direction::ToDevice)
                played.push_back(std::move(r));
        }
        return played;
    }

    VirtualClock clock;
    zav::platform::ScopedClock useClock;
    VirtualMidiBus bus;
    zav::platform::ScopedMidiBackend useBus;
    VirtualMidiDevice* device = nullptr;
};

// Every report, with what stood when it came: long messages handed to the bus, the clock, and the
// sending thread's timer slack.
struct Reports : IUpdateProgress {
    struct Entry {
        int percentage;
        std::size_t sent;
        std::uint32_t atMs;
        std::uint64_t slack;
    };

    explicit Reports(Rig& rig) : m_rig(rig) {}

    void OnUpdateProgress(int percentage) override {
        const std::size_t sent = m_rig.device ? m_rig.device->Counters().longMessages : 0;
        entries.push_back(
            {percentage, sent, m_rig.clock.NowMs(), zav::platform::CurrentTimerSlack()});
    }

    std::vector<int> Percentages() const {
        std::vector<int> out;
        for (const auto& e : entries)
            out.push_back(e.percentage);
        return out;
    }

    std::vector<Entry> entries;

private:
    Rig& m_rig;
};

bool Play(std::span<const std::uint8_t> image, IUpdateProgress* progress) {
    return PlayFirmwareImage(image.data(), static_cast<std::uint32_t>(image.size()), progress);
}

// A one-track image at 1 ms per tick (120 bpm, division 500): SysEx message k (F0 7D k F7) due
// at dueMs[k].
Bytes ImageDueAt(const std::vector<std::uint32_t>& dueMs) {
    Bytes track = FromHex("00 FF 51 03 07 A1 20");
    std::uint32_t last = 0;
    for (std::size_t k = 0; k < dueMs.size(); ++k) {
        track = Concat({track, VarLen(dueMs[k] - last), FromHex("F0 03 7D"),
                        Bytes{static_cast<std::uint8_t>(k), 0xF7}});
        last = dueMs[k];
    }
    return SmfFile(500, {track});
}

Bytes Message(std::size_t k) {
    return Bytes{0xF0, 0x7D, static_cast<std::uint8_t>(k), 0xF7};
}

std::vector<std::uint32_t> Every10Ms(std::size_t count) {
    std::vector<std::uint32_t> due;
    for (std::size_t k = 0; k < count; ++k)
        due.push_back(static_cast<std::uint32_t>(10 * k));
    return due;
}

TEST(PlayFirmwareImage, TheTestImageReachesTheDeviceInOrderAndOnTime) {
    Rig rig;
    zav::emulator::ZavDevice zav(zav::emulator::Model::ZAV5, rig.clock.NowMs());
    zav::platform::EmulatedZavDevice emulated(rig.bus, zav, rig.clock);
    ASSERT_TRUE(zav.SwitchToUpdateMode());
    rig.device = &emulated.Ports();
    rig.OpenOutput();

    const auto image = zav::fw::TestImage();
    CSMF smf;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed));
    const SendSchedule schedule =
        zav::engine::BuildSendSchedule(smf, *zav::engine::BuildTempoMap(smf));
    ASSERT_EQ(schedule.size(), 2343u);

    const std::uint64_t slackBefore = zav::platform::CurrentTimerSlack();
    Reports reports(rig);
    const std::uint32_t start = rig.clock.NowMs();
    ASSERT_TRUE(Play(image, &reports));

    const auto played = rig.Played();
    ASSERT_EQ(played.size(), schedule.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        ASSERT_EQ(played[i].bytes, schedule[i].bytes) << i;
        ASSERT_EQ(played[i].timeMs - start, schedule[i].timeMs) << i;
    }
    EXPECT_EQ(rig.clock.NowMs() - start, 146223u);

    zav::emulator::Schedule expected;
    for (const auto& m : schedule)
        expected.messages.push_back({m.timeMs, m.bytes});
    expected.originMs = start;
    const auto report = zav.Report(expected);
    EXPECT_TRUE(report.Clean()) << zav::emulator::FormatReport(report);
    EXPECT_EQ(report.messagesReceived, 2343u);
    EXPECT_EQ(report.blocksReceived, 2341u);
    ASSERT_TRUE(report.lateness);
    EXPECT_EQ(report.lateness->min, 0);
    EXPECT_EQ(report.lateness->max, 0);

    // 1 to 100 once each, every one right after its message, with nothing sent in between.
    ASSERT_EQ(reports.entries.size(), 100u);
    for (std::size_t k = 0; k < reports.entries.size(); ++k) {
        const auto& e = reports.entries[k];
        EXPECT_EQ(e.percentage, static_cast<int>(k) + 1);
        EXPECT_EQ(e.atMs - start, schedule[e.sent - 1].timeMs) << k;
        EXPECT_EQ(e.slack, zav::platform::CurrentTimerSlack() == 0 ? 0u : 1u);
    }
    EXPECT_EQ(reports.entries.front().sent, 13u);
    EXPECT_EQ(reports.entries.back().sent, 2333u);
    EXPECT_EQ(zav::platform::CurrentTimerSlack(), slackBefore);
}

TEST(PlayFirmwareImage, ASendFailureEndsTheUpdateAtThatMessage) {
    const struct {
        std::size_t failAt;
        std::vector<int> reports;
    } cases[] = {
        {0, {}},
        {4, {10, 20, 30}},
        {9, {10, 20, 30, 40, 50, 60, 70, 80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failAt);
        Rig rig;
        rig.OpenOutput();
        rig.device->FailLongMessage(c.failAt, zav::platform::kMidiNoDevice);
        Reports reports(rig);
        const std::uint32_t start = rig.clock.NowMs();
        EXPECT_FALSE(Play(ImageDueAt(Every10Ms(10)), &reports));

        const auto played = rig.Played();
        ASSERT_EQ(played.size(), c.failAt);
        for (std::size_t k = 0; k < played.size(); ++k)
            EXPECT_EQ(played[k].bytes, Message(k));
        EXPECT_EQ(rig.device->Counters().longMessages, c.failAt + 1);
        EXPECT_EQ(reports.Percentages(), c.reports);
        // It gave up at once, at the failed message's due time.
        EXPECT_EQ(rig.clock.NowMs() - start, 10 * c.failAt);
    }
}

// The receiver is asked once the message is due, so a device that left update mode during a
// long pause gets nothing more.
TEST(PlayFirmwareImage, AReceiverThatSaysStopEndsTheUpdateBeforeThatMessage) {
    struct StopAt : Reports {
        StopAt(Rig& rig, std::size_t stopAt) : Reports(rig), m_clock(rig.clock), m_stopAt(stopAt) {}
        bool KeepSending() override {
            asked.push_back(m_clock.NowMs());
            return asked.size() <= m_stopAt;
        }
        std::vector<std::uint32_t> asked;
        VirtualClock& m_clock;
        std::size_t m_stopAt;
    };
    for (const std::size_t stopAt : {std::size_t{0}, std::size_t{3}}) {
        SCOPED_TRACE(stopAt);
        Rig rig;
        rig.OpenOutput();
        StopAt progress(rig, stopAt);
        const std::vector<std::uint32_t> dueMs = {5, 400, 1000, 16000, 16010};
        const std::uint32_t start = rig.clock.NowMs();
        EXPECT_FALSE(Play(ImageDueAt(dueMs), &progress));

        const auto played = rig.Played();
        ASSERT_EQ(played.size(), stopAt);
        EXPECT_EQ(rig.device->Counters().longMessages, stopAt);
        ASSERT_EQ(progress.asked.size(), stopAt + 1);
        EXPECT_EQ(progress.asked.back() - start, dueMs[stopAt]);
    }
}

TEST(PlayFirmwareImage, WithoutAnOutputPortEveryMessageIsDueAndSucceeds) {
    for (const bool withPorts : {false, true}) {
        SCOPED_TRACE(withPorts ? "ports without output" : "no ports object");
        Rig rig;
        if (!withPorts)
            TakeMidiPorts();
        Reports reports(rig);
        const std::uint32_t start = rig.clock.NowMs();
        EXPECT_TRUE(Play(ImageDueAt({5, 400, 1000, 16000}), &reports));

        EXPECT_NE(CurrentMidiPorts(), nullptr);
        EXPECT_TRUE(rig.Played().empty());
        EXPECT_EQ(reports.Percentages(), (std::vector<int>{25, 50, 75}));
        std::vector<std::uint32_t> at;
        for (const auto& e : reports.entries)
            at.push_back(e.atMs - start);
        EXPECT_EQ(at, (std::vector<std::uint32_t>{400, 1000, 16000}));
    }
}

TEST(PlayFirmwareImage, TheClockWrapsDuringTheTransfer) {
    const std::uint32_t start = 0xFFFFFFFFu - 30;
    Rig rig(start);
    rig.OpenOutput();
    ASSERT_TRUE(Play(ImageDueAt(Every10Ms(10)), nullptr));

    const auto played = rig.Played();
    ASSERT_EQ(played.size(), 10u);
    for (std::size_t k = 0; k < played.size(); ++k) {
        EXPECT_EQ(played[k].bytes, Message(k));
        EXPECT_EQ(played[k].timeMs - start, 10 * k) << k;
    }
    EXPECT_LT(played.back().timeMs, start);  // the counter did wrap
}

TEST(PlayFirmwareImage, MessagesGoOutAsStoredTrackAfterTrack) {
    Rig rig;
    rig.OpenOutput();
    const Bytes image = SmfFile(500, {
                                         Concat({
                                             FromHex("00 FF 51 03 07 A1 20"),
                                             FromHex("00 FF 03 01 41"),  // name: not sent
                                             FromHex("64 F0 02 01 F7"),  // due 100
                                             FromHex("00 90 3C 40"),     // note on: not sent
                                         }),
                                         Concat({
                                             FromHex("00 F7 02 02 F7"),     // F7 form, due 0
                                             FromHex("32 F0 02 03 F7"),     // due 50
                                             FromHex("00 F7 00"),           // empty: left out
                                             FromHex("81 16 F0 02 04 F7"),  // due 200
                                         }),
                                     });
    const std::uint32_t start = rig.clock.NowMs();
    ASSERT_TRUE(Play(image, nullptr));

    std::vector<std::string> played;
    for (const auto& r : rig.Played())
        played.push_back(std::to_string(r.timeMs - start) + ": " + ToHex(r.bytes));
    // The second track's first two are overdue once the first track is done: sent back to back.
    EXPECT_EQ(played, (std::vector<std::string>{"100: F0 01 F7", "100: 02 F7", "100: F0 03 F7",
                                                "200: F0 04 F7"}));
}

TEST(PlayFirmwareImage, ARefusedImageSendsNothing) {
    const Bytes good = ImageDueAt({0, 10});
    const struct {
        std::string name;
        Bytes image;
    } cases[] = {
        {"empty", {}},
        {"not a file", FromHex("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F")},
        {"cut short", Bytes(good.begin(), good.end() - 3)},
        {"tempo 0", SmfFile(500, {FromHex("00 FF 51 03 00 00 00 00 F0 01 F7")})},
        {"tempo of two bytes", SmfFile(500, {FromHex("00 FF 51 02 07 A1 00 F0 01 F7")})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.OpenOutput();
        Reports reports(rig);
        EXPECT_FALSE(Play(c.image, &reports));
        EXPECT_TRUE(rig.Played().empty());
        EXPECT_EQ(rig.device->Counters().longMessages, 0u);
        EXPECT_TRUE(reports.entries.empty());
    }
}

TEST(PlayFirmwareImage, AProgressReceiverThatThrowsEndsTheUpdateQuietly) {
    struct Throwing : IUpdateProgress {
        void OnUpdateProgress(int) override { throw std::runtime_error("dialog gone"); }
    } throwing;
    Rig rig;
    rig.OpenOutput();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Play(ImageDueAt(Every10Ms(4)), &throwing));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception caught!\n");
    // The first report, after message 1, was the last thing done.
    EXPECT_EQ(rig.Played().size(), 2u);
}

TEST(ThreadTiming, TimerSlackIsSetForTheScopeAndRestored) {
    const std::uint64_t before = zav::platform::CurrentTimerSlack();
    if (before == 0)
        GTEST_SKIP() << "no timer slack on this system";
    {
        const zav::platform::ScopedTimerSlack slack(1);
        EXPECT_TRUE(slack.Active());
        EXPECT_EQ(zav::platform::CurrentTimerSlack(), 1u);
        {
            const zav::platform::ScopedTimerSlack inner(2000);
            EXPECT_EQ(zav::platform::CurrentTimerSlack(), 2000u);
        }
        EXPECT_EQ(zav::platform::CurrentTimerSlack(), 1u);
    }
    EXPECT_EQ(zav::platform::CurrentTimerSlack(), before);
}

}  // namespace
