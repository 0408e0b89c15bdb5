#include <gtest/gtest.h>

#include <functional>

#include "common/CGenericException.h"
#include "midi/DeviceLink.h"
#include "midi/MidiPorts.h"
#include "tests/midi/MidiBench.h"

namespace {

using namespace zav::platform;
using zav::test::FromHex;
using zav::test::MidiBench;
using zav::test::StatusMessage;

class DeviceLinkTest : public testing::Test {
protected:
    static constexpr std::int64_t kStart = MidiBench::kCalendarStart;

    DeviceLinkTest() {
        CreateDeviceLink();
        link = CurrentDeviceLink();
    }
    ~DeviceLinkTest() override {
        DestroyDeviceLink(TakeDeviceLink());
        TakeMidiPorts().reset();
    }

    std::int64_t Heard() const { return link->lastHeard.load(); }

    MidiBench bench;
    DeviceLink* link = nullptr;
};

TEST_F(DeviceLinkTest, ConnectOpensAndStartsTheFoundPair) {
    bench.bus.AddDevice(L"Other");
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV10-1");
    ASSERT_TRUE(Connect(*link));
    MidiPorts* ports = CurrentMidiPorts();
    ASSERT_NE(ports, nullptr);
    EXPECT_TRUE(ports->InputStarted());
    EXPECT_TRUE(ports->OutputOpen());
    EXPECT_EQ(device.Counters().inputBuffersQueued, 1u);

    device.Send(StatusMessage('1', 0x61));
    bench.clock.Settle();
    EXPECT_EQ(Heard(), kStart);
    std::lock_guard lock(link->lock);
    EXPECT_EQ(link->heardStatus, '1');
}

TEST_F(DeviceLinkTest, WithoutADevicePairConnectGivesFalseAndOpensNothing) {
    bench.bus.AddDevice(L"Other");
    bench.bus.AddDevice(L"ZAV5", VirtualPorts::InputOnly);
    EXPECT_FALSE(Connect(*link));
    MidiPorts& ports = RequireMidiPorts();
    EXPECT_EQ(ports.InputHandle(), kNoMidiIn);
    EXPECT_EQ(ports.OutputHandle(), kNoMidiOut);
    EXPECT_TRUE(bench.bus.Records().empty());
}

TEST_F(DeviceLinkTest, EveryFailureToOpenThrowsNotConnectedWithItsDetail) {
    struct Case {
        const char* reason;
        std::function<void(VirtualMidiDevice&, bool)> fault;  // on, or off again
        std::int32_t detail;
        bool inputRunning;  // input got as far as running before the throw
    };
    const auto fail = [](MidiOp op, MidiResult code) {
        return [op, code](VirtualMidiDevice& d, bool on) { d.Fail(op, on ? code : kMidiOk); };
    };
    const auto noHandle = [](MidiOp op) {
        return [op](VirtualMidiDevice& d, bool on) { d.OpenWithoutHandle(op, on); };
    };
    const Case cases[] = {
        {"input refused", fail(MidiOp::InOpen, kMidiAllocated), 4, false},
        {"no input handle", noHandle(MidiOp::InOpen), 5, false},
        {"input buffer not prepared", fail(MidiOp::InPrepare, kMidiNoMemory), 7, false},
        {"input buffer not queued", fail(MidiOp::InAddBuffer, kMidiInvalidParameter), 11, false},
        {"input not started", fail(MidiOp::InStart, kMidiNotReady), 67, false},
        {"output refused", fail(MidiOp::OutOpen, kMidiAllocated), 4, true},
        {"no output handle", noHandle(MidiOp::OutOpen), 5, true},
    };
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        c.fault(device, true);
        try {
            Connect(*link);
            ADD_FAILURE() << "no exception";
        } catch (const mstd::CGenericException& e) {
            EXPECT_EQ(e.GetCode(), mstd::ErrNotConnected);
            EXPECT_EQ(e.GetDetail(), c.detail);
            EXPECT_TRUE(e.GetText().empty());
        }
        EXPECT_EQ(RequireMidiPorts().InputStarted(), c.inputRunning);
        // The next Connect closes whatever the failed one left open, the device's ports included.
        c.fault(device, false);
        bool reconnected = false;
        EXPECT_NO_THROW(reconnected = Connect(*link));
        EXPECT_TRUE(reconnected);
        Disconnect(*link);
    }
}

TEST_F(DeviceLinkTest, HeardUntilThreeSecondsPastTheLastStatusMessageAndNotTwo) {
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    ASSERT_TRUE(Connect(*link));
    // Status messages every second keep the device heard.
    for (int second = 0; second < 10; ++second) {
        device.Send(StatusMessage('1'));
        bench.clock.SleepMs(1000);
        ASSERT_EQ(Heard(), kStart + second) << second;
    }
    // The last one came at kStart + 9; the clock now reads kStart + 10.
    bench.clock.SleepMs(1999);
    EXPECT_EQ(bench.clock.CalendarSeconds(), kStart + 11);
    EXPECT_EQ(Heard(), kStart + 9);
    bench.clock.SleepMs(1);  // kStart + 12, on a tick
    EXPECT_EQ(Heard(), 0);
    std::lock_guard lock(link->lock);
    EXPECT_EQ(link->heardStatus, 0);
}

TEST_F(DeviceLinkTest, AClockSetBackEndsNothing) {
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    ASSERT_TRUE(Connect(*link));
    device.Send(StatusMessage('0'));
    bench.clock.Settle();
    bench.clock.SetCalendarSeconds(kStart - 3600);
    bench.clock.SleepMs(10'000);
    EXPECT_EQ(Heard(), kStart);
}

TEST_F(DeviceLinkTest, AnotherStatusCharacterEndsTheHeardPeriod) {
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    ASSERT_TRUE(Connect(*link));
    device.Send(StatusMessage('1'));
    bench.clock.SleepMs(1000);
    device.Send(StatusMessage('0'));
    bench.clock.Settle();
    EXPECT_EQ(Heard(), kStart + 1);
    device.Send(StatusMessage('2'));
    bench.clock.Settle();
    EXPECT_EQ(Heard(), 0);
}

TEST_F(DeviceLinkTest, DisconnectSilencesTheDeviceUntilTheNextConnect) {
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    ASSERT_TRUE(Connect(*link));
    device.Send(StatusMessage('1'));
    bench.clock.Settle();
    ASSERT_NE(Heard(), 0);

    Disconnect(*link);
    EXPECT_EQ(Heard(), 0);
    device.Send(StatusMessage('1'));
    bench.clock.SleepMs(500);
    EXPECT_EQ(Heard(), 0);
    EXPECT_FALSE(bench.bus.Records().back().delivered);

    ASSERT_TRUE(Connect(*link));
    device.Send(StatusMessage('1'));
    bench.clock.Settle();
    EXPECT_EQ(Heard(), bench.clock.CalendarSeconds());
}

TEST_F(DeviceLinkTest, ConnectingAgainReopensThePairAndStartsSilent) {
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    ASSERT_TRUE(Connect(*link));
    device.Send(StatusMessage('1'));
    bench.clock.Settle();
    ASSERT_NE(Heard(), 0);
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Heard(), 0);
    EXPECT_EQ(device.Counters().inputBuffersAdded, 3u);  // start, re-queue, start again
    device.Send(FromHex("90 3C 64"));                    // not a status message
    bench.clock.Settle();
    EXPECT_EQ(Heard(), 0);
}

TEST_F(DeviceLinkTest, TheLinkHoldsTheTimerPeriodAndItsTimerForItsWholeLife) {
    EXPECT_EQ(bench.clock.OpenPeriods(), 1);
    EXPECT_NE(link->timerId, 0u);
    CreateDeviceLink();  // there is one already
    EXPECT_EQ(CurrentDeviceLink(), link);
    EXPECT_EQ(bench.clock.OpenPeriods(), 1);

    const std::uint32_t timer = link->timerId;
    DestroyDeviceLink(TakeDeviceLink());
    EXPECT_EQ(CurrentDeviceLink(), nullptr);
    EXPECT_EQ(bench.clock.OpenPeriods(), 0);
    EXPECT_FALSE(bench.clock.KillTimer(timer));  // killed already

    link = &RequireDeviceLink();  // a user finding none makes one
    EXPECT_EQ(bench.clock.OpenPeriods(), 1);
}

TEST_F(DeviceLinkTest, WithoutATimerTheHeardStateNeverTimesOut) {
    DestroyDeviceLink(TakeDeviceLink());
    bench.clock.FailTimerStarts(true);
    CreateDeviceLink();
    link = CurrentDeviceLink();
    EXPECT_EQ(link->timerId, 0u);

    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    ASSERT_TRUE(Connect(*link));
    device.Send(StatusMessage('1'));
    bench.clock.SleepMs(60'000);
    EXPECT_EQ(Heard(), kStart);

    // With no timer to kill, the period that creation began is not ended.
    DestroyDeviceLink(TakeDeviceLink());
    EXPECT_EQ(bench.clock.OpenPeriods(), 1);
}

}  // namespace
