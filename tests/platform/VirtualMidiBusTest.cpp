#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock/SystemClock.h"
#include "platform/clock/VirtualClock.h"
#include "platform/midi/MidiService.h"
#include "platform/midi/virtual/VirtualMidiBus.h"
#include "tests/support/Bytes.h"

namespace zav::platform {
namespace {

using test::Bytes;
using test::FromHex;

// What the callbacks of one open port saw.
struct Event {
    std::uint32_t message = 0;
    std::uintptr_t param1 = 0;
    std::uintptr_t param2 = 0;
    Bytes bytes;  // the recorded bytes of a handed-back input buffer
    std::uint32_t flags = 0;
    std::thread::id thread;
};

class Recorder {
public:
    std::atomic<MidiInHandle> input{kNoMidiIn};
    std::atomic<bool> requeue{false};  // put each filled input buffer straight back

    static void OnInput(MidiInHandle, std::uint32_t message, std::uintptr_t instance,
                        std::uintptr_t param1, std::uintptr_t param2) {
        auto& self = *reinterpret_cast<Recorder*>(instance);
        Event event{message, param1, param2, {}, 0, std::this_thread::get_id()};
        if (message == kMimLongData) {
            auto* buffer = reinterpret_cast<MidiBuffer*>(param1);
            event.bytes.assign(buffer->data, buffer->data + buffer->bytesRecorded);
            event.flags = buffer->flags;
            if (self.requeue && buffer->bytesRecorded != 0)
                MidiInAddBuffer(self.input, buffer);
        }
        self.Add(std::move(event));
    }

    static void OnOutput(MidiOutHandle, std::uint32_t message, std::uintptr_t instance,
                         std::uintptr_t param1, std::uintptr_t param2) {
        auto& self = *reinterpret_cast<Recorder*>(instance);
        std::uint32_t flags = 0;
        if (message == kMomDone)
            flags = reinterpret_cast<MidiBuffer*>(param1)->flags;
        self.Add({message, param1, param2, {}, flags, std::this_thread::get_id()});
    }

    std::uintptr_t Instance() { return reinterpret_cast<std::uintptr_t>(this); }

    std::vector<Event> Events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<Event> Of(std::uint32_t message) {
        std::vector<Event> out;
        for (const Event& e : Events()) {
            if (e.message == message)
                out.push_back(e);
        }
        return out;
    }
    // For the real clock: waits until count events of that kind have come.
    bool WaitFor(std::uint32_t message, std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] {
            std::size_t n = 0;
            for (const Event& e : m_events)
                n += e.message == message;
            return n >= count;
        });
    }

private:
    void Add(Event event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};

// An input buffer of its own.
struct InBuffer {
    explicit InBuffer(std::uint32_t size) : bytes(size) {
        header.data = bytes.data();
        header.bufferLength = size;
    }
    Bytes bytes;
    MidiBuffer header;
};

// An output buffer holding one message.
struct OutBuffer {
    explicit OutBuffer(Bytes message) : bytes(std::move(message)) {
        header.data = bytes.data();
        header.bufferLength = static_cast<std::uint32_t>(bytes.size());
    }
    Bytes bytes;
    MidiBuffer header;
};

std::wstring NameOf(const MidiCaps& caps) {
    return std::wstring(caps.name.data());
}

class VirtualMidiBusTest : public testing::Test {
protected:
    VirtualClock clock{1000};
    VirtualMidiBus bus{clock};
    ScopedMidiBackend installed{bus};
    Recorder recorder;

    MidiInHandle OpenIn(std::uint32_t device) {
        MidiInHandle handle{};
        EXPECT_EQ(MidiInOpen(&handle, device, &Recorder::OnInput, recorder.Instance()), kMidiOk);
        recorder.input = handle;
        return handle;
    }
    MidiOutHandle OpenOut(std::uint32_t device) {
        MidiOutHandle handle{};
        EXPECT_EQ(MidiOutOpen(&handle, device, &Recorder::OnOutput, recorder.Instance()), kMidiOk);
        return handle;
    }
    // Opens and starts input with one queued buffer of the given size.
    MidiInHandle Listen(std::uint32_t device, InBuffer& buffer) {
        MidiInHandle in = OpenIn(device);
        EXPECT_EQ(MidiInPrepare(in, &buffer.header), kMidiOk);
        EXPECT_EQ(MidiInAddBuffer(in, &buffer.header), kMidiOk);
        EXPECT_EQ(MidiInStart(in), kMidiOk);
        return in;
    }
};

TEST_F(VirtualMidiBusTest, ListsFollowTheOrderOfAddingAndCloseUpOnUnplug) {
    bus.AddDevice(L"Other");
    bus.AddDevice(L"Only in", VirtualPorts::InputOnly);
    bus.AddDevice(L"Only out", VirtualPorts::OutputOnly);
    bus.AddDevice(L"A name of far more than thirty-one characters");
    bus.AddDevice(L"ZAV5");

    const std::vector<std::wstring> ins = {L"Other", L"Only in", L"A name of far more than thirty-",
                                           L"ZAV5"};
    const std::vector<std::wstring> outs = {L"Other", L"Only out",
                                            L"A name of far more than thirty-", L"ZAV5"};
    ASSERT_EQ(MidiInCount(), ins.size());
    ASSERT_EQ(MidiOutCount(), outs.size());
    MidiCaps caps;
    for (std::uint32_t i = 0; i < ins.size(); ++i) {
        ASSERT_EQ(MidiInGetCaps(i, caps), kMidiOk);
        EXPECT_EQ(NameOf(caps), ins[i]);
        ASSERT_EQ(MidiOutGetCaps(i, caps), kMidiOk);
        EXPECT_EQ(NameOf(caps), outs[i]);
    }
    EXPECT_EQ(MidiInGetCaps(4, caps), kMidiBadDeviceId);

    EXPECT_EQ(bus.RemoveDevice(L"Other"), 1u);
    EXPECT_EQ(bus.RemoveDevice(L"Other"), 0u);
    ASSERT_EQ(MidiInCount(), 3u);
    ASSERT_EQ(MidiInGetCaps(0, caps), kMidiOk);
    EXPECT_EQ(NameOf(caps), L"Only in");
    MidiOutHandle handle{};
    EXPECT_EQ(MidiOutOpen(&handle, 3, &Recorder::OnOutput, 0), kMidiBadDeviceId);
    EXPECT_EQ(handle, kNoMidiOut);
}

TEST_F(VirtualMidiBusTest, APortOpensOnceAndItsNoticesRunOnTheBusThreadsBeforeTheCallReturns) {
    bus.AddDevice(L"ZAV5");
    MidiInHandle in = OpenIn(0);
    MidiOutHandle out = OpenOut(0);
    MidiInHandle second{};
    EXPECT_EQ(MidiInOpen(&second, 0, &Recorder::OnInput, 0), kMidiAllocated);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);

    const std::vector<Event> events = recorder.Events();
    ASSERT_EQ(events.size(), 4u);
    const std::uint32_t expected[] = {kMimOpen, kMomOpen, kMimClose, kMomClose};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(events[i].message, expected[i]);
        EXPECT_NE(events[i].thread, std::this_thread::get_id());
    }
    EXPECT_NE(events[0].thread, events[1].thread);  // input and output threads of their own
    EXPECT_EQ(MidiInStart(in), kMidiInvalidHandle);
    EXPECT_EQ(MidiOutReset(out), kMidiInvalidHandle);
    EXPECT_NE(OpenIn(0), in);  // opens again once closed; handles are never reused
}

TEST_F(VirtualMidiBusTest, ShortMessagesFlowOnlyWhileStarted) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    MidiInHandle in = OpenIn(0);
    device.Send(FromHex("90 3C 64"));  // before start: lost
    clock.Settle();
    ASSERT_EQ(MidiInStart(in), kMidiOk);
    clock.SleepMs(20);
    device.Send(FromHex("80 3C 00"));
    device.Send(FromHex("F6"));
    device.SendShort(0x00ABCDF8);
    clock.Settle();
    ASSERT_EQ(MidiInStop(in), kMidiOk);
    device.Send(FromHex("90 3C 64"));  // after stop: lost
    clock.Settle();

    const std::vector<Event> data = recorder.Of(kMimData);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0].param1, 0x3C80u);
    EXPECT_EQ(data[0].param2, 20u);  // ms since start
    EXPECT_EQ(data[1].param1, 0xF6u);
    EXPECT_EQ(data[2].param1, 0xABCDF8u);
    for (const Event& e : data)
        EXPECT_NE(e.thread, std::this_thread::get_id());

    const std::vector<VirtualMidiRecord> records = bus.Records();
    ASSERT_EQ(records.size(), 5u);
    const bool delivered[] = {false, true, true, true, false};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].direction, VirtualMidiRecord::Direction::FromDevice);
        EXPECT_EQ(records[i].delivered, delivered[i]) << i;
    }
    EXPECT_EQ(records[1].bytes, FromHex("80 3C 00"));
    EXPECT_EQ(records[1].timeMs, 1020u);
}

TEST_F(VirtualMidiBusTest, ALongSysExGoesOnInTheNextBufferAndIsLostWithoutOne) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    InBuffer buffer(512);
    Listen(0, buffer);
    Bytes message(600, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;

    recorder.requeue = true;
    device.Send(message);
    clock.Settle();
    std::vector<Event> pieces = recorder.Of(kMimLongData);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, Bytes(message.begin(), message.begin() + 512));
    EXPECT_EQ(pieces[1].bytes, Bytes(message.begin() + 512, message.end()));
    EXPECT_NE(pieces[0].flags & kMidiBufferDone, 0u);
    EXPECT_EQ(pieces[0].flags & kMidiBufferQueued, 0u);

    recorder.requeue = false;
    device.Send(message);  // the first piece takes the one buffer, the rest finds none
    device.Send(FromHex("F0 01 F7"));
    clock.Settle();
    EXPECT_EQ(recorder.Of(kMimLongData).size(), 3u);
    const std::vector<VirtualMidiRecord> records = bus.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[0].delivered);
    EXPECT_FALSE(records[1].delivered);
    EXPECT_FALSE(records[2].delivered);
}

TEST_F(VirtualMidiBusTest, InputBufferRules) {
    bus.AddDevice(L"ZAV5");
    MidiInHandle in = OpenIn(0);
    InBuffer buffer(16);
    EXPECT_EQ(MidiInAddBuffer(in, &buffer.header), kMidiUnprepared);
    EXPECT_EQ(MidiInPrepare(in, &buffer.header), kMidiOk);
    EXPECT_EQ(MidiInPrepare(in, &buffer.header), kMidiOk);  // no effect on a prepared buffer
    EXPECT_EQ(MidiInAddBuffer(in, &buffer.header), kMidiOk);
    EXPECT_EQ(MidiInAddBuffer(in, &buffer.header), kMidiStillPlaying);
    EXPECT_EQ(MidiInUnprepare(in, &buffer.header), kMidiStillPlaying);
    EXPECT_EQ(MidiInClose(in), kMidiStillPlaying);
    EXPECT_EQ(MidiInAddBuffer(in, nullptr), kMidiInvalidParameter);
    EXPECT_EQ(MidiInStart(kNoMidiIn), kMidiInvalidHandle);

    EXPECT_EQ(MidiInReset(in), kMidiOk);
    const std::vector<Event> back = recorder.Of(kMimLongData);
    ASSERT_EQ(back.size(), 1u);  // handed back before the reset returned
    EXPECT_TRUE(back[0].bytes.empty());
    EXPECT_EQ(back[0].param1, reinterpret_cast<std::uintptr_t>(&buffer.header));
    EXPECT_EQ(MidiInUnprepare(in, &buffer.header), kMidiOk);
    EXPECT_EQ(buffer.header.flags & kMidiBufferPrepared, 0u);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
}

TEST_F(VirtualMidiBusTest, AnEmptyHandBackLeavesNoBufferQueued) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    InBuffer buffer(512);
    Listen(0, buffer);
    EXPECT_TRUE(device.HandBackEmptyInputBuffer());
    EXPECT_FALSE(device.HandBackEmptyInputBuffer());
    const std::vector<Event> back = recorder.Of(kMimLongData);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0].bytes.empty());
    EXPECT_EQ(device.Counters().inputBuffersQueued, 0u);
}

TEST_F(VirtualMidiBusTest, OutputPlaysAfterTheDelayInClockTimeThenNotifies) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    bus.SetPlayDelay(5);
    MidiOutHandle out = OpenOut(0);
    OutBuffer first(FromHex("F0 43 7D 30 F7"));
    OutBuffer second(FromHex("F0 43 7D 40 F7"));
    EXPECT_EQ(MidiOutLongMsg(out, &first.header), kMidiUnprepared);
    ASSERT_EQ(MidiOutPrepare(out, &first.header), kMidiOk);
    ASSERT_EQ(MidiOutPrepare(out, &second.header), kMidiOk);
    ASSERT_EQ(MidiOutLongMsg(out, &first.header), kMidiOk);
    EXPECT_EQ(MidiOutLongMsg(out, &first.header), kMidiStillPlaying);
    EXPECT_EQ(MidiOutUnprepare(out, &first.header), kMidiStillPlaying);
    clock.SleepMs(2);
    ASSERT_EQ(MidiOutLongMsg(out, &second.header), kMidiOk);

    clock.SleepMs(2);
    EXPECT_TRUE(device.Received().empty());
    EXPECT_EQ(MidiOutClose(out), kMidiStillPlaying);
    clock.SleepMs(1);  // 5 ms after the first
    EXPECT_EQ(device.Received(), std::vector<Bytes>{first.bytes});
    clock.SleepMs(2);
    EXPECT_EQ(device.Received(), (std::vector<Bytes>{first.bytes, second.bytes}));

    const std::vector<Event> done = recorder.Of(kMomDone);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].param1, reinterpret_cast<std::uintptr_t>(&first.header));
    EXPECT_EQ(done[1].param1, reinterpret_cast<std::uintptr_t>(&second.header));
    EXPECT_NE(done[0].flags & kMidiBufferDone, 0u);
    const std::vector<VirtualMidiRecord> records = bus.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].timeMs, 1005u);
    EXPECT_EQ(records[1].timeMs, 1007u);
    EXPECT_EQ(records[0].direction, VirtualMidiRecord::Direction::ToDevice);

    EXPECT_EQ(MidiOutUnprepare(out, &first.header), kMidiOk);
    EXPECT_EQ(MidiOutUnprepare(out, &second.header), kMidiOk);
    EXPECT_EQ(device.Counters().outputBuffersPrepared, 0u);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

TEST_F(VirtualMidiBusTest, DelayedAndWithheldDoneNotices) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    MidiOutHandle out = OpenOut(0);
    OutBuffer message(FromHex("F0 01 F7"));
    ASSERT_EQ(MidiOutPrepare(out, &message.header), kMidiOk);

    device.DelayDone(100);
    ASSERT_EQ(MidiOutLongMsg(out, &message.header), kMidiOk);
    clock.SleepMs(100);  // played at 1, done due at 101
    EXPECT_EQ(device.Received().size(), 1u);
    EXPECT_TRUE(recorder.Of(kMomDone).empty());
    clock.SleepMs(1);
    EXPECT_EQ(recorder.Of(kMomDone).size(), 1u);

    device.WithholdDone();
    ASSERT_EQ(MidiOutLongMsg(out, &message.header), kMidiOk);
    clock.SleepMs(1000);
    EXPECT_EQ(device.Received().size(), 2u);
    EXPECT_EQ(recorder.Of(kMomDone).size(), 1u);
    EXPECT_EQ(MidiOutReset(out), kMidiOk);  // nothing left to hand back
    EXPECT_EQ(recorder.Of(kMomDone).size(), 1u);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

TEST_F(VirtualMidiBusTest, ResetHandsBackEveryUnplayedBufferBeforeItReturns) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    MidiOutHandle out = OpenOut(0);
    std::vector<OutBuffer> buffers;
    for (int i = 0; i < 3; ++i)
        buffers.emplace_back(FromHex("F0 02 F7"));
    for (OutBuffer& b : buffers) {
        ASSERT_EQ(MidiOutPrepare(out, &b.header), kMidiOk);
        ASSERT_EQ(MidiOutLongMsg(out, &b.header), kMidiOk);
    }
    EXPECT_EQ(MidiOutReset(out), kMidiOk);
    const std::vector<Event> done = recorder.Of(kMomDone);
    ASSERT_EQ(done.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(done[i].param1, reinterpret_cast<std::uintptr_t>(&buffers[i].header));
    }
    clock.SleepMs(100);
    EXPECT_TRUE(device.Received().empty());
    EXPECT_EQ(recorder.Of(kMomDone).size(), 3u);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

TEST_F(VirtualMidiBusTest, InjectedFailuresGiveTheirCodeAndDoNothing) {
    struct Case {
        MidiOp op;
        MidiResult code;
        MidiResult knockOn;  // what the fault makes a later call give, 0 for nothing
    };
    const Case cases[] = {
        {MidiOp::InOpen, kMidiAllocated, 0},
        {MidiOp::InPrepare, kMidiNoMemory, kMidiUnprepared},  // the add
        {MidiOp::InAddBuffer, kMidiNotReady, 0},
        {MidiOp::InStart, kMidiNoDevice, 0},
        {MidiOp::InReset, kMidiError, 0},
        {MidiOp::OutOpen, kMidiBadDeviceId, 0},
        {MidiOp::OutPrepare, kMidiNoMemory, kMidiUnprepared},  // the long message
        {MidiOp::OutLongMsg, kMidiNotReady, 0},
        {MidiOp::OutReset, kMidiError, kMidiStillPlaying},  // the close
        {MidiOp::OutClose, kMidiNotReady, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.op));
        VirtualClock caseClock;
        VirtualMidiBus caseBus(caseClock);
        ScopedMidiBackend scoped(caseBus);
        VirtualMidiDevice& device = caseBus.AddDevice(L"ZAV5");
        device.Fail(c.op, c.code);
        Recorder rec;
        InBuffer in(8);
        OutBuffer out(FromHex("F0 F7"));
        MidiInHandle inHandle{};
        MidiOutHandle outHandle{};
        const MidiResult inOpen = MidiInOpen(&inHandle, 0, &Recorder::OnInput, rec.Instance());
        const MidiResult outOpen = MidiOutOpen(&outHandle, 0, &Recorder::OnOutput, rec.Instance());
        std::vector<MidiResult> results = {inOpen, outOpen};
        if (inOpen == kMidiOk) {
            results.push_back(MidiInPrepare(inHandle, &in.header));
            results.push_back(MidiInAddBuffer(inHandle, &in.header));
            results.push_back(MidiInStart(inHandle));
            results.push_back(MidiInReset(inHandle));
        }
        if (outOpen == kMidiOk) {
            results.push_back(MidiOutPrepare(outHandle, &out.header));
            results.push_back(MidiOutLongMsg(outHandle, &out.header));
            results.push_back(MidiOutReset(outHandle));
            results.push_back(MidiOutClose(outHandle));
        }
        EXPECT_EQ(std::count(results.begin(), results.end(), c.code), 1);
        const std::ptrdiff_t knockOns = c.knockOn != 0 ? 1 : 0;
        if (c.knockOn != 0) {
            EXPECT_EQ(std::count(results.begin(), results.end(), c.knockOn), 1);
        }
        EXPECT_EQ(std::count(results.begin(), results.end(), kMidiOk),
                  static_cast<std::ptrdiff_t>(results.size()) - 1 - knockOns);
        if (c.op == MidiOp::InOpen) {
            EXPECT_EQ(inHandle, kNoMidiIn);
        }
        if (c.op == MidiOp::OutOpen) {
            EXPECT_EQ(outHandle, kNoMidiOut);
        }
        // Clean up whatever the fault left behind.
        device.Fail(c.op, kMidiOk);
        if (inHandle != kNoMidiIn) {
            MidiInReset(inHandle);
            EXPECT_EQ(MidiInClose(inHandle), kMidiOk);
        }
        if (c.op == MidiOp::OutReset || c.op == MidiOp::OutClose) {
            MidiOutReset(outHandle);
            EXPECT_EQ(MidiOutClose(outHandle), kMidiOk);
        }
    }
}

TEST_F(VirtualMidiBusTest, AGivenLongMessageFailsByItsIndex) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    device.FailLongMessage(2, kMidiNotReady);
    MidiOutHandle out = OpenOut(0);
    std::vector<MidiResult> results;
    for (int i = 0; i < 4; ++i) {
        OutBuffer message(FromHex("F0 03 F7"));
        MidiOutPrepare(out, &message.header);
        results.push_back(MidiOutLongMsg(out, &message.header));
        clock.SleepMs(10);
        MidiOutUnprepare(out, &message.header);
    }
    EXPECT_EQ(results, (std::vector<MidiResult>{0, 0, kMidiNotReady, 0}));
    EXPECT_EQ(device.Received().size(), 3u);
    EXPECT_EQ(device.Counters().longMessages, 4u);
}

TEST_F(VirtualMidiBusTest, OpenWithoutHandle) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    device.OpenWithoutHandle(MidiOp::InOpen);
    device.OpenWithoutHandle(MidiOp::OutOpen);
    MidiInHandle in{};
    MidiOutHandle out{};
    EXPECT_EQ(MidiInOpen(&in, 0, &Recorder::OnInput, 0), kMidiOk);
    EXPECT_EQ(MidiOutOpen(&out, 0, &Recorder::OnOutput, 0), kMidiOk);
    EXPECT_EQ(in, kNoMidiIn);
    EXPECT_EQ(out, kNoMidiOut);
}

TEST_F(VirtualMidiBusTest, UnpluggingMidTransferHandsBackBuffersAndLaterSendsFail) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    bus.SetPlayDelay(10);
    InBuffer inBuffer(64);
    MidiInHandle in = Listen(0, inBuffer);
    MidiOutHandle out = OpenOut(0);
    OutBuffer a(FromHex("F0 04 F7"));
    OutBuffer b(FromHex("F0 05 F7"));
    MidiOutPrepare(out, &a.header);
    MidiOutPrepare(out, &b.header);
    ASSERT_EQ(MidiOutLongMsg(out, &a.header), kMidiOk);
    ASSERT_EQ(MidiOutLongMsg(out, &b.header), kMidiOk);

    device.Unplug();
    EXPECT_FALSE(device.Plugged());
    EXPECT_EQ(recorder.Of(kMomDone).size(), 2u);
    EXPECT_EQ(MidiInCount(), 0u);
    EXPECT_EQ(MidiOutLongMsg(out, &a.header), kMidiNoDevice);
    EXPECT_EQ(MidiInStart(in), kMidiNoDevice);
    device.Send(FromHex("F0 06 F7"));
    clock.SleepMs(100);
    EXPECT_TRUE(device.Received().empty());
    EXPECT_TRUE(recorder.Of(kMimLongData).empty());

    EXPECT_EQ(MidiInReset(in), kMidiOk);
    EXPECT_EQ(MidiInUnprepare(in, &inBuffer.header), kMidiOk);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
    EXPECT_EQ(MidiOutReset(out), kMidiOk);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

TEST_F(VirtualMidiBusTest, AHookRunsOnTheCallerAsTheOperationBegins) {
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV5");
    InBuffer buffer(64);
    MidiInHandle in = Listen(0, buffer);
    std::thread::id hookThread;
    // A message arriving just as the program resets: it is delivered before the reset stops input.
    device.OnCall(MidiOp::InReset, [&] {
        hookThread = std::this_thread::get_id();
        device.Send(FromHex("F0 07 F7"));
        clock.Settle();
    });
    EXPECT_EQ(MidiInReset(in), kMidiOk);
    EXPECT_EQ(hookThread, std::this_thread::get_id());
    const std::vector<Event> back = recorder.Of(kMimLongData);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].bytes, FromHex("F0 07 F7"));
    device.OnCall(MidiOp::InReset, nullptr);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
}

TEST(VirtualMidiBusRealTime, MessagesCrossBothWaysOnTheSystemClock) {
    VirtualMidiBus bus(TheSystemClock());
    ScopedMidiBackend installed(bus);
    VirtualMidiDevice& device = bus.AddDevice(L"ZAV10");
    std::atomic<int> heard{0};
    device.SetReceiver([&](std::span<const std::uint8_t>) { ++heard; });
    Recorder recorder;
    recorder.requeue = true;

    MidiInHandle in{};
    ASSERT_EQ(MidiInOpen(&in, 0, &Recorder::OnInput, recorder.Instance()), kMidiOk);
    recorder.input = in;
    InBuffer buffer(16);
    MidiInPrepare(in, &buffer.header);
    MidiInAddBuffer(in, &buffer.header);
    ASSERT_EQ(MidiInStart(in), kMidiOk);
    MidiOutHandle out{};
    ASSERT_EQ(MidiOutOpen(&out, 0, &Recorder::OnOutput, recorder.Instance()), kMidiOk);

    std::vector<OutBuffer> sent;
    for (int i = 0; i < 20; ++i)
        sent.emplace_back(FromHex("F0 43 7D 40 01 F7"));
    std::thread peer([&] {
        for (int i = 0; i < 20; ++i)
            device.Send(FromHex("F0 43 7D 60 44 54 41 31 F7"));
    });
    for (OutBuffer& b : sent) {
        MidiOutPrepare(out, &b.header);
        ASSERT_EQ(MidiOutLongMsg(out, &b.header), kMidiOk);
    }
    peer.join();
    ASSERT_TRUE(recorder.WaitFor(kMomDone, 20));
    ASSERT_TRUE(recorder.WaitFor(kMimLongData, 20));
    EXPECT_EQ(heard.load(), 20);

    EXPECT_EQ(MidiInReset(in), kMidiOk);
    MidiInUnprepare(in, &buffer.header);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
    for (OutBuffer& b : sent)
        MidiOutUnprepare(out, &b.header);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

}  // namespace
}  // namespace zav::platform
