#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/RtMidiBackend.h"
#include "platform/midi/rtmidi/RtMidiDevicePorts.h"
#include "tests/platform/rtmidi/JackServer.h"
#include "tests/support/Bytes.h"
#include "tests/support/ScopedEnv.h"

// The backend against a JACK server of the test's own, with a device's ports published by the
// device side in the same process.

namespace zav::platform {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FromHex;
using test::ToHex;

constexpr auto kPatience = 5s;

// Waits, with a limit, until a condition over what was gathered holds.
template <typename T>
class Gathered {
public:
    void Add(T item) {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
        m_changed.notify_all();
    }
    std::vector<T> Items() {
        std::lock_guard lock(m_mutex);
        return m_items;
    }
    bool WaitForCount(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] { return m_items.size() >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<T> m_items;
};

struct Event {
    std::uint32_t message = 0;
    std::uintptr_t param1 = 0;
    Bytes bytes;  // of a handed-back input buffer
    std::uint32_t flags = 0;
    std::thread::id thread;
};

// The program's side: what the callbacks of its ports saw.
struct Recorder {
    Gathered<Event> events;
    MidiInHandle input{};
    bool requeue = false;  // puts each filled input buffer straight back, as MidiPorts does

    std::uintptr_t Instance() { return reinterpret_cast<std::uintptr_t>(this); }

    static void OnInput(MidiInHandle, std::uint32_t message, std::uintptr_t instance,
                        std::uintptr_t param1, std::uintptr_t) {
        auto& self = *reinterpret_cast<Recorder*>(instance);
        Event event{message, param1, {}, 0, std::this_thread::get_id()};
        if (message == kMimLongData) {
            auto* buffer = reinterpret_cast<MidiBuffer*>(param1);
            event.bytes.assign(buffer->data, buffer->data + buffer->bytesRecorded);
            event.flags = buffer->flags;
            if (self.requeue && buffer->bytesRecorded != 0)
                MidiInAddBuffer(self.input, buffer);
        }
        self.events.Add(std::move(event));
    }

    static void OnOutput(MidiOutHandle, std::uint32_t message, std::uintptr_t instance,
                         std::uintptr_t param1, std::uintptr_t) {
        auto& self = *reinterpret_cast<Recorder*>(instance);
        std::uint32_t flags = 0;
        if (message == kMomDone)
            flags = reinterpret_cast<MidiBuffer*>(param1)->flags;
        self.events.Add({message, param1, {}, flags, std::this_thread::get_id()});
    }

    std::vector<Event> Of(std::uint32_t message) {
        std::vector<Event> out;
        for (Event& e : events.Items()) {
            if (e.message == message)
                out.push_back(e);
        }
        return out;
    }
};

struct Buffer {
    explicit Buffer(Bytes content) : bytes(std::move(content)) {
        header.data = bytes.data();
        header.bufferLength = static_cast<std::uint32_t>(bytes.size());
    }
    Bytes bytes;
    MidiBuffer header;
};

// A SysEx message of `size` bytes whose body counts up, so that a piece out of place shows.
Bytes SysEx(std::size_t size, std::uint8_t seed = 0) {
    Bytes message(size);
    for (std::size_t i = 0; i < size; ++i)
        message[i] = static_cast<std::uint8_t>((seed + i) & 0x7F);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

// A device on the wire: its ports, and what reached it.
class Device {
public:
    explicit Device(const std::string& name)
        : m_ports(std::make_unique<RtMidiDevicePorts>(
              name,
              [this](std::span<const std::uint8_t> m) {
                  received.Add({m.begin(), m.end()});
              },
              std::vector<MidiSystem>{MidiSystem::Jack})) {}

    void Send(const Bytes& message) { ASSERT_EQ(m_ports->Send(message), kMidiOk); }
    void Unplug() { m_ports.reset(); }

    Gathered<Bytes> received;

private:
    std::unique_ptr<RtMidiDevicePorts> m_ports;
};

std::optional<std::uint32_t> Find(bool input, const std::wstring& name) {
    const std::uint32_t count = input ? MidiInCount() : MidiOutCount();
    for (std::uint32_t d = 0; d < count; ++d) {
        MidiCaps caps;
        const MidiResult code = input ? MidiInGetCaps(d, caps) : MidiOutGetCaps(d, caps);
        if (code == kMidiOk && name == caps.name.data())
            return d;
    }
    return std::nullopt;
}

std::vector<std::wstring> Names(bool input) {
    std::vector<std::wstring> names;
    const std::uint32_t count = input ? MidiInCount() : MidiOutCount();
    for (std::uint32_t d = 0; d < count; ++d) {
        MidiCaps caps;
        if ((input ? MidiInGetCaps(d, caps) : MidiOutGetCaps(d, caps)) == kMidiOk)
            names.emplace_back(caps.name.data());
    }
    return names;
}

class RtMidiBackendTest : public testing::Test {
protected:
    test::JackServer server;
    // Buffers and recorder outlive the backend, which may still hold or call them when a test
    // stops half-way.
    std::deque<Buffer> buffers;
    Recorder recorder;
    RtMidiBackend backend{{"zav-test-host", {MidiSystem::Jack}}};
    ScopedMidiBackend installed{backend};

    Buffer& Keep(Bytes bytes) { return buffers.emplace_back(std::move(bytes)); }

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
};

TEST_F(RtMidiBackendTest, ListsADevicesTwoPortsUnderOneNameAndKeepsTheirNumbers) {
    ASSERT_EQ(backend.System(), MidiSystem::Jack);
    auto zav5 = std::make_unique<Device>("ZAV5");
    Device zav10("ZAV10");
    const std::optional<std::uint32_t> in5 = Find(true, L"ZAV5");
    const std::optional<std::uint32_t> out5 = Find(false, L"ZAV5");
    const std::optional<std::uint32_t> in10 = Find(true, L"ZAV10");
    ASSERT_TRUE(in5 && out5 && in10);

    // The program's own ports are no devices.
    MidiOutHandle out = OpenOut(*out5);
    for (bool input : {true, false}) {
        for (const std::wstring& name : Names(input)) {
            SCOPED_TRACE(std::string(name.begin(), name.end()));
            EXPECT_TRUE(name == L"ZAV5" || name == L"ZAV10");
        }
    }
    EXPECT_EQ(MidiOutClose(out), kMidiOk);

    // A device that goes keeps its number, with a failing query, and gets it back on return.
    zav5.reset();
    const std::uint32_t count = MidiInCount();
    MidiCaps caps;
    EXPECT_EQ(MidiInGetCaps(*in5, caps), kMidiNoDevice);
    EXPECT_EQ(Find(true, L"ZAV10"), in10);
    MidiInHandle handle{};
    EXPECT_EQ(MidiInOpen(&handle, *in5, &Recorder::OnInput, 0), kMidiNoDevice);
    EXPECT_EQ(handle, kNoMidiIn);
    EXPECT_EQ(MidiInGetCaps(count, caps), kMidiBadDeviceId);

    zav5 = std::make_unique<Device>("ZAV5");
    EXPECT_EQ(MidiInCount(), count);
    EXPECT_EQ(Find(true, L"ZAV5"), in5);
    EXPECT_EQ(Find(false, L"ZAV5"), out5);
}

TEST_F(RtMidiBackendTest, OpensAPortOnceAndRefusesBadNumbersAndHandles) {
    Device zav5("ZAV5");
    const std::uint32_t device = Find(true, L"ZAV5").value();
    MidiInHandle handle{};
    EXPECT_EQ(MidiInOpen(&handle, MidiInCount(), &Recorder::OnInput, 0), kMidiBadDeviceId);
    MidiInHandle in = OpenIn(device);
    EXPECT_EQ(MidiInOpen(&handle, device, &Recorder::OnInput, 0), kMidiAllocated);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
    EXPECT_EQ(MidiInClose(in), kMidiInvalidHandle);
    EXPECT_EQ(MidiInStart(in), kMidiInvalidHandle);
    // Closed, it opens again.
    MidiInHandle again = OpenIn(device);
    EXPECT_EQ(MidiInClose(again), kMidiOk);

    const std::vector<Event> notices = recorder.events.Items();
    ASSERT_EQ(notices.size(), 4u);
    const std::uint32_t expected[] = {kMimOpen, kMimClose, kMimOpen, kMimClose};
    for (std::size_t i = 0; i < notices.size(); ++i) {
        EXPECT_EQ(notices[i].message, expected[i]);
        EXPECT_NE(notices[i].thread, std::this_thread::get_id());
    }
}

TEST_F(RtMidiBackendTest, InputHandsOnShortMessagesAndSysExInBufferSizedPiecesInOrder) {
    Device zav5("ZAV5");
    Buffer& buffer = Keep(Bytes(512));
    MidiInHandle in = OpenIn(Find(true, L"ZAV5").value());
    recorder.requeue = true;
    ASSERT_EQ(MidiInPrepare(in, &buffer.header), kMidiOk);
    ASSERT_EQ(MidiInAddBuffer(in, &buffer.header), kMidiOk);
    EXPECT_EQ(MidiInAddBuffer(in, &buffer.header), kMidiStillPlaying);
    EXPECT_EQ(MidiInUnprepare(in, &buffer.header), kMidiStillPlaying);

    ASSERT_EQ(MidiInStart(in), kMidiOk);

    const Bytes status = FromHex("F0 43 7D 60 44 54 41 31 F7");
    const Bytes longer = SysEx(600);
    zav5.Send(FromHex("90 3C 64"));
    zav5.Send(FromHex("F8"));
    zav5.Send(longer);
    zav5.Send(status);
    ASSERT_TRUE(recorder.events.WaitForCount(1 + 2 + 2 + 1));

    const std::vector<Event> events = recorder.events.Items();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].message, kMimOpen);
    EXPECT_EQ(events[1].message, kMimData);
    EXPECT_EQ(events[1].param1, 0x643C90u);
    EXPECT_EQ(events[2].message, kMimData);
    EXPECT_EQ(events[2].param1, 0xF8u);
    // The long message in two pieces, only the first beginning F0; then the next one whole.
    ASSERT_EQ(events[3].message, kMimLongData);
    EXPECT_EQ(ToHex(events[3].bytes), ToHex(Bytes(longer.begin(), longer.begin() + 512)));
    EXPECT_EQ(events[3].flags & (kMidiBufferDone | kMidiBufferQueued), kMidiBufferDone);
    ASSERT_EQ(events[4].message, kMimLongData);
    EXPECT_EQ(ToHex(events[4].bytes), ToHex(Bytes(longer.begin() + 512, longer.end())));
    ASSERT_EQ(events[5].message, kMimLongData);
    EXPECT_EQ(ToHex(events[5].bytes), ToHex(status));
    for (const Event& e : events) {
        EXPECT_EQ(e.thread, events[0].thread);
        EXPECT_NE(e.thread, std::this_thread::get_id());
    }

    EXPECT_EQ(MidiInReset(in), kMidiOk);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
}

TEST_F(RtMidiBackendTest, AStoppedPortHearsNothingAndResetHandsBackEveryQueuedBuffer) {
    Device zav5("ZAV5");
    Buffer& first = Keep(Bytes(512));
    Buffer& second = Keep(Bytes(512));
    MidiInHandle in = OpenIn(Find(true, L"ZAV5").value());
    for (Buffer* b : {&first, &second}) {
        ASSERT_EQ(MidiInPrepare(in, &b->header), kMidiOk);
        ASSERT_EQ(MidiInAddBuffer(in, &b->header), kMidiOk);
    }
    ASSERT_EQ(MidiInStart(in), kMidiOk);
    ASSERT_EQ(MidiInStop(in), kMidiOk);
    zav5.Send(SysEx(20));
    zav5.Send(FromHex("90 3C 64"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.events.Items().size(), 1u);  // the open notice
    EXPECT_EQ(MidiInClose(in), kMidiStillPlaying);

    // Before Reset returns, both buffers are back, empty.
    ASSERT_EQ(MidiInReset(in), kMidiOk);
    const std::vector<Event> back = recorder.Of(kMimLongData);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].param1, reinterpret_cast<std::uintptr_t>(&first.header));
    EXPECT_EQ(back[1].param1, reinterpret_cast<std::uintptr_t>(&second.header));
    for (const Event& e : back) {
        EXPECT_TRUE(e.bytes.empty());
        EXPECT_EQ(e.flags & kMidiBufferQueued, 0u);
    }
    EXPECT_EQ(MidiInUnprepare(in, &first.header), kMidiOk);
    ASSERT_EQ(MidiInClose(in), kMidiOk);
    EXPECT_EQ(recorder.Of(kMimClose).size(), 1u);

    zav5.Send(SysEx(20));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.events.Items().size(), 4u);  // open, two buffers, close
}

TEST_F(RtMidiBackendTest, OutputPlaysWholeSysExInOrderWithADoneNoticeForEach) {
    Device zav5("ZAV5");
    MidiOutHandle out = OpenOut(Find(false, L"ZAV5").value());

    // What is refused never reaches the wire.
    struct Refusal {
        const char* why;
        Bytes message;
        bool prepare;
        MidiResult code;
    };
    const Refusal refusals[] = {
        {"not prepared", SysEx(20), false, kMidiUnprepared},
        {"a short message", FromHex("90 3C 64"), true, kMidiInvalidParameter},
        {"no end of SysEx", FromHex("F0 43 7D 40"), true, kMidiInvalidParameter},
        {"no start of SysEx", FromHex("43 7D 40 F7"), true, kMidiInvalidParameter},
        {"longer than JACK takes", SysEx(16380), true, kMidiNotSupported},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.why);
        Buffer& buffer = Keep(r.message);
        if (r.prepare) {
            ASSERT_EQ(MidiOutPrepare(out, &buffer.header), kMidiOk);
        }
        EXPECT_EQ(MidiOutLongMsg(out, &buffer.header), r.code);
        EXPECT_EQ(buffer.header.flags & kMidiBufferQueued, 0u);
    }

    std::vector<Buffer*> sent;
    for (std::size_t size : {15, 534, 4000, 16379, 14})
        sent.push_back(&Keep(SysEx(size, static_cast<std::uint8_t>(size))));
    for (Buffer* b : sent) {
        ASSERT_EQ(MidiOutPrepare(out, &b->header), kMidiOk);
        ASSERT_EQ(MidiOutLongMsg(out, &b->header), kMidiOk);
    }
    ASSERT_TRUE(zav5.received.WaitForCount(sent.size()));
    const std::vector<Bytes> received = zav5.received.Items();
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received[i], sent[i]->bytes);
    }

    ASSERT_TRUE(recorder.events.WaitForCount(1 + sent.size()));
    const std::vector<Event> done = recorder.Of(kMomDone);
    ASSERT_EQ(done.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(done[i].param1, reinterpret_cast<std::uintptr_t>(&sent[i]->header));
        EXPECT_EQ(done[i].flags & (kMidiBufferDone | kMidiBufferQueued), kMidiBufferDone);
        EXPECT_NE(done[i].thread, std::this_thread::get_id());
    }
    for (Buffer* b : sent)
        EXPECT_EQ(MidiOutUnprepare(out, &b->header), kMidiOk);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

TEST_F(RtMidiBackendTest, ClosingRightAfterTheLastDoneNoticeLosesNothing) {
    Device zav5("ZAV5");
    MidiOutHandle out = OpenOut(Find(false, L"ZAV5").value());
    Buffer& last = Keep(SysEx(534));
    ASSERT_EQ(MidiOutPrepare(out, &last.header), kMidiOk);
    ASSERT_EQ(MidiOutLongMsg(out, &last.header), kMidiOk);
    ASSERT_TRUE(recorder.events.WaitForCount(2));
    EXPECT_EQ(MidiOutReset(out), kMidiOk);
    EXPECT_EQ(MidiOutUnprepare(out, &last.header), kMidiOk);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
    ASSERT_TRUE(zav5.received.WaitForCount(1));
    EXPECT_EQ(zav5.received.Items()[0], last.bytes);
}

TEST_F(RtMidiBackendTest, AnUnpluggedDeviceMakesTheNextSendFailAndEverythingStillCloses) {
    auto zav5 = std::make_unique<Device>("ZAV5");
    Buffer& input = Keep(Bytes(512));
    MidiInHandle in = OpenIn(Find(true, L"ZAV5").value());
    ASSERT_EQ(MidiInPrepare(in, &input.header), kMidiOk);
    ASSERT_EQ(MidiInAddBuffer(in, &input.header), kMidiOk);
    ASSERT_EQ(MidiInStart(in), kMidiOk);
    MidiOutHandle out = OpenOut(Find(false, L"ZAV5").value());
    Buffer& message = Keep(SysEx(534));
    ASSERT_EQ(MidiOutPrepare(out, &message.header), kMidiOk);
    ASSERT_EQ(MidiOutLongMsg(out, &message.header), kMidiOk);
    ASSERT_TRUE(zav5->received.WaitForCount(1));
    ASSERT_TRUE(recorder.events.WaitForCount(3));  // two open notices, one done

    zav5->Unplug();
    EXPECT_EQ(MidiOutLongMsg(out, &message.header), kMidiNoDevice);
    EXPECT_EQ(MidiOutLongMsg(out, &message.header), kMidiNoDevice);
    EXPECT_EQ(MidiInStop(in), kMidiOk);
    EXPECT_EQ(MidiInStart(in), kMidiNoDevice);

    EXPECT_EQ(MidiOutReset(out), kMidiOk);
    EXPECT_EQ(MidiOutUnprepare(out, &message.header), kMidiOk);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
    EXPECT_EQ(MidiInReset(in), kMidiOk);
    EXPECT_EQ(MidiInClose(in), kMidiOk);
}

TEST(RtMidiBackendServerGone, SendsFailAtOnceAndANewServersPortsComeBackUnderTheirNumbers) {
    std::optional<test::JackServer> server(std::in_place);
    std::deque<Buffer> buffers;
    Recorder recorder;
    RtMidiBackend backend({"zav-test-host", {MidiSystem::Jack}});
    ScopedMidiBackend installed(backend);
    auto zav5 = std::make_unique<Device>("ZAV5");
    const std::uint32_t device = Find(false, L"ZAV5").value();
    MidiOutHandle out{};
    ASSERT_EQ(MidiOutOpen(&out, device, &Recorder::OnOutput, recorder.Instance()), kMidiOk);
    auto send = [&] {
        Buffer& b = buffers.emplace_back(SysEx(534));
        MidiOutPrepare(out, &b.header);
        return MidiOutLongMsg(out, &b.header);
    };
    ASSERT_EQ(send(), kMidiOk);
    ASSERT_TRUE(zav5->received.WaitForCount(1));

    // The server's end reaches the backend a moment later; from then on every send fails, where
    // RtMidi would take the messages and then spin for room in a ring buffer nobody empties.
    server.reset();
    MidiResult code = kMidiOk;
    for (int i = 0; i < 500 && code == kMidiOk; ++i) {
        code = send();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(code, kMidiNoDevice);
    EXPECT_EQ(send(), kMidiNoDevice);
    MidiCaps caps;
    MidiOutCount();
    EXPECT_EQ(MidiOutGetCaps(device, caps), kMidiNoDevice);
    EXPECT_EQ(MidiOutReset(out), kMidiOk);
    EXPECT_EQ(MidiOutClose(out), kMidiOk);

    zav5.reset();
    server.emplace();
    zav5 = std::make_unique<Device>("ZAV5");
    EXPECT_EQ(Find(false, L"ZAV5"), device);
    ASSERT_EQ(MidiOutOpen(&out, device, &Recorder::OnOutput, recorder.Instance()), kMidiOk);
    ASSERT_EQ(send(), kMidiOk);
    EXPECT_TRUE(zav5->received.WaitForCount(1));
    EXPECT_EQ(MidiOutClose(out), kMidiOk);
}

TEST(RtMidiBackendWithoutServer, ListsNothingAndOpensNothing) {
    test::ScopedEnv server("JACK_DEFAULT_SERVER", "zav-test-no-such-server");
    RtMidiBackend backend({"zav-test-host", {MidiSystem::Jack}});
    ScopedMidiBackend installed(backend);
    EXPECT_EQ(MidiInCount(), 0u);
    EXPECT_EQ(MidiOutCount(), 0u);
    MidiOutHandle handle{};
    EXPECT_EQ(MidiOutOpen(&handle, 0, &Recorder::OnOutput, 0), kMidiBadDeviceId);
    EXPECT_EQ(handle, kNoMidiOut);
}

}  // namespace
}  // namespace zav::platform
