// The device's port flooded with input in every phase of a first run: the program keeps its one
// input buffer and its output buffers to the messages in flight, and the run goes as it goes
// without the flood.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/ZAVFirmwareUpdater_Dialog.h"
#include "midi/DeviceLink.h"
#include "midi/MidiPorts.h"
#include "resources/TestImage.h"
#include "tests/app/AppBench.h"
#include "tests/app/ScriptedFace.h"
#include "update/FirmwareMessages.h"

namespace {

using zav::platform::MidiOp;
using zav::test::ScriptedFace;
using Kind = ScriptedFace::Kind;

constexpr std::size_t kTestImageMessages = 2343;
// How long each flood lasts, in clock time.
constexpr std::uint32_t kFloodMs = 1500;

// A SysEx message of `size` bytes that no part of the program takes for a status message.
std::vector<std::uint8_t> LongSysEx(std::size_t size, std::uint8_t fill) {
    std::vector<std::uint8_t> bytes(size, fill);
    bytes.front() = 0xF0;
    bytes[1] = 0x43;
    bytes[2] = 0x7D;
    bytes[3] = 0x40;
    bytes.back() = 0xF7;
    return bytes;
}

// A peer on the device's port that sends a burst every millisecond of clock time for a while:
// whatever the bus takes in within a millisecond reaches the program before time moves on, so
// the program gets input as fast as the bus can hand it over. What it sends follows the device's
// mode: a device in normal mode speaks, and its status messages are part of the flood; one in
// update mode is silent, so there the flood is everything else.
class Flooder {
public:
    Flooder(zav::platform::VirtualClock& clock, zav::platform::VirtualMidiDevice& ports)
        : m_clock(clock), m_ports(ports) {}
    ~Flooder() { Stop(); }

    // Floods for kFloodMs from now; a flood under way goes on instead.
    void Start(bool statusMessages) {
        std::lock_guard lock(m_mutex);
        m_until = m_clock.NowMs() + kFloodMs;
        m_status = statusMessages;
        if (m_timer == 0)
            m_timer = m_clock.StartTimer(1, [this] { Burst(); });
        ++m_floods;
    }

    void Stop() {
        std::uint32_t timer = 0;
        {
            std::lock_guard lock(m_mutex);
            timer = m_timer;
            m_timer = 0;
        }
        if (timer != 0)
            m_clock.KillTimer(timer);
    }

    int Floods() const {
        std::lock_guard lock(m_mutex);
        return m_floods;
    }

private:
    // On the timer's thread. Between floods the timer goes: a tick every millisecond of a
    // 146-second transfer would only slow the test.
    void Burst() {
        bool status = false;
        std::uint32_t ended = 0;
        {
            std::lock_guard lock(m_mutex);
            if (static_cast<std::int32_t>(m_clock.NowMs() - m_until) >= 0) {
                ended = m_timer;
                m_timer = 0;
            }
            status = m_status;
        }
        if (ended != 0) {
            m_clock.KillTimer(ended);
            return;
        }
        if (status)
            m_ports.Send(zav::fw::MakeStatusMessage('1'));
        m_ports.Send(zav::fw::MakeStatusMessage('2'));  // read, but marks nothing
        m_ports.Send(m_long);                           // two buffers' worth
        m_ports.Send(m_short);
        m_ports.SendShort(0xF8);
        m_ports.SendShort(0xFE);
        m_ports.SendShort(0x643C90);
    }

    zav::platform::VirtualClock& m_clock;
    zav::platform::VirtualMidiDevice& m_ports;
    const std::vector<std::uint8_t> m_long = LongSysEx(MidiPorts::kInputBufferSize + 88, 0x11);
    const std::vector<std::uint8_t> m_short = LongSysEx(12, 0x22);
    mutable std::mutex m_mutex;
    std::uint32_t m_until = 0;
    bool m_status = false;
    std::uint32_t m_timer = 0;
    int m_floods = 0;
};

// Input buffers that each burst of a flood without status messages fills.
constexpr std::size_t kBuffersPerBurst = 4;

TEST(InputFlood, EveryPhaseGoesAsWithoutItAndTheBuffersStayBounded) {
    zav::test::UpdaterBench bench;
    ScriptedFace face;
    auto& ports = bench.plugged.Ports();
    Flooder flood(bench.clock, ports);

    // The program queues its one input buffer again only once the handler has it back: whenever
    // it adds the buffer, none is queued.
    std::atomic<std::size_t> adds{0}, addsOverAQueuedBuffer{0};
    ports.OnCall(MidiOp::InAddBuffer, [&] {
        ++adds;
        if (ports.Counters().inputBuffersQueued != 0)
            ++addsOverAQueuedBuffer;
    });

    std::size_t mostPending = 0;
    face.onModeless = [&](const zav::app::WindowSpec& windowSpec, zav::app::DialogCommands&) {
        flood.Start(windowSpec.phase == PhaseWaiting);
    };
    face.onModal = [&](const zav::app::WindowSpec& windowSpec) {
        if (windowSpec.phase == PhaseReady) {
            // The ports are closed here: all of it is lost on the way.
            flood.Start(true);
            bench.clock.SleepMs(kFloodMs);
        }
        if (windowSpec.phase == PhaseSwitchMode) {
            bench.device.SwitchToUpdateMode();
            flood.Start(false);  // through the check that follows OK
        }
        if (windowSpec.phase == PhaseComplete)
            bench.clock.SleepMs(1000);
        return ScriptedFace::Answer::Ok;
    };
    face.onProgress = [&](int value) {
        if (CurrentMidiPorts() != nullptr)
            mostPending = std::max(mostPending, CurrentMidiPorts()->PendingCount());
        if (value == 50 || value == 99)
            flood.Start(false);  // the updating window's own flood ran through the erase pause
    };

    testing::internal::CaptureStderr();
    CZAVFirmwareUpdaterApp app(zav::fw::TestImage());
    EXPECT_EQ(RunApplication(app, face), 0);
    flood.Stop();
    ports.OnCall(MidiOp::InAddBuffer, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    std::vector<UpdatePhase> phases;
    for (const auto& event : face.Events()) {
        EXPECT_NE(event.kind, Kind::ErrorBox) << std::string(event.text.begin(), event.text.end());
        if (event.kind == Kind::Modal || event.kind == Kind::Modeless)
            phases.push_back(event.windowSpec.phase);
    }
    EXPECT_EQ(phases, (std::vector<UpdatePhase>{PhaseWaiting, PhaseReady, PhaseSwitchMode,
                                                PhaseUpdating, PhaseComplete}));
    std::vector<int> every(100);
    for (int i = 0; i < 100; ++i)
        every[static_cast<std::size_t>(i)] = i + 1;
    EXPECT_EQ(face.ProgressValues(), every);
    EXPECT_EQ(bench.home.Status(), 2);
    const auto report = bench.device.Report();
    EXPECT_EQ(report.messagesReceived, kTestImageMessages);
    EXPECT_TRUE(report.faults.empty()) << zav::emulator::FormatReport(report);

    // The flood did reach the program: the three floods of the transfer alone, wholly within it,
    // had the buffer handed over and queued again at every piece.
    EXPECT_EQ(flood.Floods(), 6);
    EXPECT_GE(adds.load(), 3 * kFloodMs * kBuffersPerBurst);
    EXPECT_EQ(addsOverAQueuedBuffer.load(), 0u) << "one input buffer, never more";
    // Each message's buffer went as soon as it was played, flood or none.
    EXPECT_EQ(mostPending, 1u);
    EXPECT_EQ(CurrentMidiPorts(), nullptr);
    EXPECT_EQ(bench.plugged.Ports().Counters().outputBuffersPrepared, 0u);
}

}  // namespace
