#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "common/CGenericException.h"
#include "midi/MidiPorts.h"
#include "tests/midi/MidiBench.h"

namespace {

using namespace zav::platform;
using zav::test::Bytes;
using zav::test::FromHex;
using zav::test::MidiBench;
using zav::test::StatusMessage;

// An input handler that keeps what it is given.
struct Sink {
    std::mutex mutex;
    std::vector<Bytes> messages;
    std::atomic<bool> throwNext{false};

    static void Handle(void* context, const std::uint8_t* bytes, std::uint32_t length) {
        auto& self = *static_cast<Sink*>(context);
        {
            std::lock_guard lock(self.mutex);
            self.messages.emplace_back(bytes, bytes + length);
        }
        if (self.throwNext.exchange(false))
            throw std::runtime_error("handler");
    }
    std::vector<Bytes> Messages() {
        std::lock_guard lock(mutex);
        return messages;
    }
};

MidiResult Send(MidiPorts& ports, const Bytes& message) {
    return ports.SendSysEx(message.data(), static_cast<std::uint32_t>(message.size()));
}

class MidiPortsTest : public testing::Test {
protected:
    MidiBench bench;
    VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
    Sink sink;
    MidiPorts ports;

    void Listen() {
        ASSERT_EQ(ports.OpenInput(0, &sink, &Sink::Handle), kMidiOk);
        ASSERT_EQ(ports.StartInput(), kMidiOk);
        ASSERT_TRUE(ports.InputStarted());
    }
};

TEST_F(MidiPortsTest, AReplyLongerThanTheBufferArrivesInPieces) {
    Listen();
    Bytes reply(600);
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<std::uint8_t>(i & 0x7F);
    reply.front() = 0xF0;
    reply.back() = 0xF7;
    device.Send(reply);
    bench.clock.Settle();

    std::vector<Bytes> pieces = sink.Messages();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 512u);
    EXPECT_EQ(pieces[0][0], 0xF0);
    EXPECT_EQ(pieces[1].size(), 88u);
    EXPECT_NE(pieces[1][0], 0xF0);
    EXPECT_EQ(zav::test::Concat({pieces[0], pieces[1]}), reply);

    // The buffer went back into the queue after each piece.
    device.Send(StatusMessage('1'));
    bench.clock.Settle();
    pieces = sink.Messages();
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[2], StatusMessage('1'));
}

TEST_F(MidiPortsTest, ShortMessagesReachTheHandlerAsThreeBytesButClockAndSensingDoNot) {
    Listen();
    struct Case {
        std::uint32_t packed;
        Bytes handed;  // empty: dropped
    };
    const Case cases[] = {
        {0x0000F8, {}},
        {0x0000FE, {}},
        {0x1234F8, {}},  // dropped by status, whatever the rest
        {0x643C90, FromHex("90 3C 64")},
        {0x0005C0, FromHex("C0 05 00")},
        {0xABCDF6, FromHex("F6 CD AB")},  // a one-byte message keeps what the platform left
    };
    std::vector<Bytes> expected;
    for (const Case& c : cases) {
        device.SendShort(c.packed);
        if (!c.handed.empty())
            expected.push_back(c.handed);
    }
    bench.clock.Settle();
    EXPECT_EQ(sink.Messages(), expected);
}

TEST_F(MidiPortsTest, NothingReachesTheHandlerOnceCloseInputHasBegun) {
    Listen();
    bool stopped = false;
    // Messages that arrive after input was marked stopped but before the platform's reset.
    device.OnCall(MidiOp::InReset, [&] {
        device.Send(StatusMessage('1'));
        device.Send(FromHex("90 3C 64"));
        bench.clock.Settle();
    });
    device.OnCall(MidiOp::InStop, [&] { stopped = true; });

    EXPECT_EQ(ports.CloseInput(), kMidiOk);
    EXPECT_TRUE(sink.Messages().empty());
    const std::vector<VirtualMidiRecord> records = bench.bus.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].delivered);  // they did reach the input callback
    EXPECT_TRUE(records[1].delivered);
    EXPECT_EQ(device.Counters().inputBuffersAdded, 1u);  // the buffer was not queued again
    EXPECT_TRUE(stopped);
    EXPECT_EQ(ports.InputHandle(), kNoMidiIn);
    EXPECT_FALSE(ports.InputStarted());
}

TEST_F(MidiPortsTest, AFailedResetSkipsStopAndClosingGoesOnWithoutFreeingThePlatformsBuffer) {
    Listen();
    bool stopped = false;
    device.Fail(MidiOp::InReset, kMidiError);
    device.OnCall(MidiOp::InStop, [&] { stopped = true; });

    EXPECT_EQ(ports.CloseInput(), kMidiStillPlaying);  // the buffer is still queued
    EXPECT_FALSE(stopped);
    EXPECT_EQ(ports.InputHandle(), kNoMidiIn);

    // The platform still holds the buffer and fills it: the memory must still be there.
    device.Send(StatusMessage('1'));
    bench.clock.Settle();
    EXPECT_TRUE(bench.bus.Records().back().delivered);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(MidiPortsTest, ABufferHandedBackEmptyIsNotQueuedAgain) {
    Listen();
    ASSERT_TRUE(device.HandBackEmptyInputBuffer());
    device.Send(StatusMessage('1'));
    bench.clock.Settle();
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(device.Counters().inputBuffersQueued, 0u);
    EXPECT_FALSE(bench.bus.Records().back().delivered);
}

TEST_F(MidiPortsTest, AnExceptionFromTheHandlerIsReportedAndInputGoesOn) {
    Listen();
    sink.throwNext = true;
    testing::internal::CaptureStderr();
    device.Send(FromHex("90 3C 64"));
    device.Send(FromHex("80 3C 00"));
    bench.clock.Settle();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception caught!\n");
    EXPECT_EQ(sink.Messages().size(), 2u);
}

TEST_F(MidiPortsTest, SendingWithoutAnOutputSendsNothingAndReportsSuccess) {
    EXPECT_EQ(Send(ports, StatusMessage('1')), kMidiOk);
    EXPECT_EQ(ports.PendingCount(), 0u);
    EXPECT_EQ(device.Counters().longMessages, 0u);
}

TEST_F(MidiPortsTest, SentBytesAreCopied) {
    ports.OpenOutput(0);
    Bytes message = FromHex("F0 43 7D 30 01 F7");
    ASSERT_EQ(Send(ports, message), kMidiOk);
    message.assign(message.size(), 0);  // the caller reuses its bytes at once
    bench.clock.SleepMs(10);
    EXPECT_EQ(device.Received(), std::vector<Bytes>{FromHex("F0 43 7D 30 01 F7")});
    EXPECT_EQ(ports.PendingCount(), 0u);
}

TEST(MidiPortsPending, EveryHeaderIsReleasedExactlyOnceAcrossDoneNoticesAndReset) {
    struct Case {
        const char* reason;
        std::function<void(VirtualMidiBus&, VirtualMidiDevice&)> setUp;
        std::size_t pendingAtReset;
        std::size_t played;
        std::size_t doneNotices;
    };
    const Case cases[] = {
        {"played and notified before the reset", [](auto&, auto&) {}, 0, 3, 3},
        {"unplayed ones come back with the reset",
         [](VirtualMidiBus& bus, auto&) { bus.SetPlayDelay(500); }, 3, 0, 3},
        {"withheld notices: the reset releases them",
         [](auto&, VirtualMidiDevice& d) { d.WithholdDone(); }, 3, 3, 0},
        {"notices due after the reset", [](auto&, VirtualMidiDevice& d) { d.DelayDone(1000); }, 3,
         3, 3},
        {"some sent, some not", [](auto&, VirtualMidiDevice& d) { d.FailLongMessage(1, 67); }, 1, 2,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        MidiBench bench;
        VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
        c.setUp(bench.bus, device);
        MidiPorts ports;
        ports.OpenOutput(0);
        for (int i = 0; i < 3; ++i)
            Send(ports, FromHex("F0 43 7D 40 00 F7"));
        bench.clock.SleepMs(100);
        EXPECT_EQ(ports.PendingCount(), c.pendingAtReset);

        EXPECT_EQ(ports.ResetOutput(), kMidiOk);
        EXPECT_EQ(ports.PendingCount(), 0u);
        EXPECT_FALSE(ports.OutputOpen());
        EXPECT_EQ(device.Counters().outputBuffersPrepared, 0u);  // each unprepared, once
        bench.clock.SleepMs(2000);                               // no late notice
        EXPECT_EQ(device.Counters().doneNotices, c.doneNotices);
        EXPECT_EQ(device.Received().size(), c.played);
        EXPECT_EQ(ports.ResetOutput(), kMidiOk);  // at once, nothing left
        ports.CloseOutput();
        EXPECT_EQ(ports.OutputHandle(), kNoMidiOut);
    }
}

TEST_F(MidiPortsTest, ADoneNoticeForAHeaderNotPendingChangesNothing) {
    ports.OpenOutput(0);
    device.WithholdDone();
    Send(ports, FromHex("F0 01 F7"));
    Send(ports, FromHex("F0 02 F7"));
    bench.clock.SleepMs(10);
    ASSERT_EQ(ports.PendingCount(), 2u);

    MidiBuffer stranger;
    const auto instance = reinterpret_cast<std::uintptr_t>(&ports);
    MidiPorts::OnMidiOutDone(ports.OutputHandle(), kMomDone, instance,
                             reinterpret_cast<std::uintptr_t>(&stranger), 0);
    MidiPorts::OnMidiOutDone(ports.OutputHandle(), kMomClose, instance, 0, 0);
    EXPECT_EQ(ports.PendingCount(), 2u);
}

TEST_F(MidiPortsTest, AFailedOutputResetLeavesThePendingHeadersToTheirNotices) {
    bench.bus.SetPlayDelay(50);
    ports.OpenOutput(0);
    Send(ports, FromHex("F0 01 F7"));
    device.Fail(MidiOp::OutReset, kMidiError);
    EXPECT_EQ(ports.ResetOutput(), kMidiError);
    EXPECT_FALSE(ports.OutputOpen());
    EXPECT_EQ(ports.PendingCount(), 1u);
    bench.clock.SleepMs(100);
    EXPECT_EQ(ports.PendingCount(), 0u);  // released by its done notice
    EXPECT_EQ(device.Counters().outputBuffersPrepared, 0u);
}

TEST(MidiPortsOutput, ARefusedOpenThrowsNotConnectedWithThePlatformsCode) {
    struct Case {
        const char* reason;
        std::function<void(VirtualMidiDevice&)> setUp;
        std::uint32_t device;
        std::int32_t detail;
    };
    const Case cases[] = {
        {"refused", [](VirtualMidiDevice& d) { d.Fail(MidiOp::OutOpen, kMidiAllocated); }, 0, 4},
        {"no handle", [](VirtualMidiDevice& d) { d.OpenWithoutHandle(MidiOp::OutOpen); }, 0, 5},
        {"no such device", [](VirtualMidiDevice&) {}, 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        MidiBench bench;
        VirtualMidiDevice& device = bench.bus.AddDevice(L"ZAV5");
        c.setUp(device);
        MidiPorts ports;
        try {
            ports.OpenOutput(c.device);
            ADD_FAILURE() << "no exception";
        } catch (const mstd::CGenericException& e) {
            EXPECT_EQ(e.GetCode(), mstd::ErrNotConnected);
            EXPECT_EQ(e.GetDetail(), c.detail);
            EXPECT_TRUE(e.GetText().empty());
        }
        EXPECT_EQ(ports.OutputHandle(), kNoMidiOut);
        EXPECT_FALSE(ports.OutputOpen());
        EXPECT_EQ(Send(ports, FromHex("F0 F7")), kMidiOk);
        EXPECT_EQ(device.Counters().longMessages, 0u);
    }
}

TEST_F(MidiPortsTest, OpeningAgainClosesThePortFirst) {
    ASSERT_EQ(ports.OpenInput(0, &sink, &Sink::Handle), kMidiOk);
    EXPECT_EQ(ports.OpenInput(0, &sink, &Sink::Handle), kMidiOk);  // not "allocated"
    ports.OpenOutput(0);
    EXPECT_NO_THROW(ports.OpenOutput(0));
}

TEST_F(MidiPortsTest, RecreatingTheProcessWideObjectClosesItsPorts) {
    ASSERT_EQ(CurrentMidiPorts(), nullptr);
    MidiPorts& first = RequireMidiPorts();
    ASSERT_EQ(first.OpenInput(0, &sink, &Sink::Handle), kMidiOk);
    ASSERT_EQ(first.StartInput(), kMidiOk);
    first.OpenOutput(0);

    EXPECT_EQ(RecreateMidiPorts(), 0u);
    MidiPorts* second = CurrentMidiPorts();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->InputHandle(), kNoMidiIn);
    EXPECT_EQ(second->OutputHandle(), kNoMidiOut);
    EXPECT_EQ(ports.OpenInput(0, &sink, &Sink::Handle), kMidiOk);  // free again
    EXPECT_NO_THROW(ports.OpenOutput(0));

    std::unique_ptr<MidiPorts> taken = TakeMidiPorts();
    EXPECT_EQ(taken.get(), second);
    EXPECT_EQ(CurrentMidiPorts(), nullptr);
}

}  // namespace
