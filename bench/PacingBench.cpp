// zav-bench-pacing: plays the test image in real time, on the system clock, through the virtual
// MIDI bus to an emulated device, and measures how late each message leaves the engine.
//
// Lateness is the moment the engine hands a message to the MIDI service (taken on the steady clock
// inside the service call) minus the moment the millisecond counter reached the message's due
// time, counted from the counter value at which the engine started. The last line reads
// "p50=X ms p99=Y ms max=Z ms cpu=S s rss=M MiB".
//
//   zav-bench-pacing [--messages N]
//     --messages N          play only the first N messages (the erase message's pause of 16 s
//                           included)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/ZavDevice.h"
#include "midi/MidiPorts.h"
#include "platform/clock/SystemClock.h"
#include "platform/midi/virtual/EmulatedZavDevice.h"
#include "platform/midi/virtual/VirtualMidiBus.h"
#include "resources/TestImage.h"
#include "smf/CSMF.h"
#include "update/PlayFirmwareImage.h"
#include "update/SendSchedule.h"
#include "update/UpdateProgress.h"

namespace {

using Steady = std::chrono::steady_clock;
using namespace zav::platform;

// The system clock, passed through, noting the counter value of the first reading: the engine's
// start of sending. Reads the counter exactly as the system clock does.
class StartNotingClock final : public Clock {
public:

    std::uint64_t MonotonicMs() override { return TheSystemClock().MonotonicMs(); }
    std::uint32_t NowMs() override {
        const std::uint64_t now = TheSystemClock().MonotonicMs();
        if (!m_start)
            m_start = now;
        return static_cast<std::uint32_t>(now);
    }
    void SleepMs(std::uint32_t ms) override { TheSystemClock().SleepMs(ms); }
    std::int64_t CalendarSeconds() override { return TheSystemClock().CalendarSeconds(); }
    std::unique_ptr<ClockAlarm> MakeAlarm() override { return TheSystemClock().MakeAlarm(); }

    std::optional<std::uint64_t> Start() const { return m_start; }

private:
    std::optional<std::uint64_t> m_start;
};

// The virtual bus, passed through, with the steady time of every long-message call.
class SendTimingBackend final : public MidiBackend {
public:
    explicit SendTimingBackend(MidiBackend& inner, std::size_t expected) : m_inner(inner) {
        m_sends.reserve(expected);
    }

    const std::vector<Steady::time_point>& Sends() const { return m_sends; }

    MidiResult SendLong(MidiOutHandle handle, MidiBuffer& buffer) override {
        m_sends.push_back(Steady::now());
        return m_inner.SendLong(handle, buffer);
    }

    std::uint32_t InputCount() override { return m_inner.InputCount(); }
    MidiResult InputCaps(std::uint32_t device, MidiCaps& caps) override {
        return m_inner.InputCaps(device, caps);
    }
    MidiResult OpenInput(MidiInHandle& handle, std::uint32_t device, MidiInCallback callback,
                         std::uintptr_t instance) override {
        return m_inner.OpenInput(handle, device, callback, instance);
    }
    MidiResult PrepareInput(MidiInHandle h, MidiBuffer& b) override {
        return m_inner.PrepareInput(h, b);
    }
    MidiResult UnprepareInput(MidiInHandle h, MidiBuffer& b) override {
        return m_inner.UnprepareInput(h, b);
    }
    MidiResult AddInputBuffer(MidiInHandle h, MidiBuffer& b) override {
        return m_inner.AddInputBuffer(h, b);
    }
    MidiResult StartInput(MidiInHandle h) override { return m_inner.StartInput(h); }
    MidiResult StopInput(MidiInHandle h) override { return m_inner.StopInput(h); }
    MidiResult ResetInput(MidiInHandle h) override { return m_inner.ResetInput(h); }
    MidiResult CloseInput(MidiInHandle h) override { return m_inner.CloseInput(h); }
    std::uint32_t OutputCount() override { return m_inner.OutputCount(); }
    MidiResult OutputCaps(std::uint32_t device, MidiCaps& caps) override {
        return m_inner.OutputCaps(device, caps);
    }
    MidiResult OpenOutput(MidiOutHandle& handle, std::uint32_t device, MidiOutCallback callback,
                          std::uintptr_t instance) override {
        return m_inner.OpenOutput(handle, device, callback, instance);
    }
    MidiResult PrepareOutput(MidiOutHandle h, MidiBuffer& b) override {
        return m_inner.PrepareOutput(h, b);
    }
    MidiResult UnprepareOutput(MidiOutHandle h, MidiBuffer& b) override {
        return m_inner.UnprepareOutput(h, b);
    }
    MidiResult ResetOutput(MidiOutHandle h) override { return m_inner.ResetOutput(h); }
    MidiResult CloseOutput(MidiOutHandle h) override { return m_inner.CloseOutput(h); }

private:
    MidiBackend& m_inner;
    std::vector<Steady::time_point> m_sends;
};

struct NoProgress final : IUpdateProgress {
    void OnUpdateProgress(int) override {}
};

// The test image, or its first `messages` SysEx messages as a file of their own.
std::vector<std::uint8_t> Image(std::optional<std::size_t> messages) {
    const auto image = zav::fw::TestImage();
    if (!messages)
        return {image.begin(), image.end()};
    CSMF smf;
    std::uint32_t consumed = 0;
    smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed);
    for (auto& track : smf.m_tracks) {
        auto& events = track->m_events;
        std::size_t kept = 0;
        std::erase_if(events, [&](const std::unique_ptr<MidiEvent>& e) {
            return e->kind == MidiEventKind::SysEx && kept++ >= *messages;
        });
    }
    std::vector<std::uint8_t> out(smf.GetFileSize());
    std::uint32_t written = 0;
    smf.Write(out.data(), written);
    return out;
}

SendSchedule ScheduleOf(const std::vector<std::uint8_t>& image) {
    CSMF smf;
    std::uint32_t consumed = 0;
    smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed);
    return zav::engine::BuildSendSchedule(smf, zav::engine::BuildTempoMap(smf).value());
}

// Nearest rank, of sorted values.
double Percentile(const std::vector<double>& sorted, double p) {
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

int Usage() {
    std::fprintf(stderr, "usage: zav-bench-pacing [--messages N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::size_t> messages;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--messages" && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || n == 0)
                return Usage();
            messages = n;
        } else {
            return Usage();
        }
    }

    const std::vector<std::uint8_t> image = Image(messages);
    const SendSchedule schedule = ScheduleOf(image);

    VirtualMidiBus bus(TheSystemClock());
    bus.SetPlayDelay(0);
    SendTimingBackend backend(bus, schedule.size());
    ScopedMidiBackend useBackend(backend);

    zav::emulator::ZavDevice device(zav::emulator::Model::ZAV5, TheSystemClock().NowMs());
    bool played = false;
    {
        EmulatedZavDevice emulated(bus, device, TheSystemClock());
        device.SwitchToUpdateMode();
        RecreateMidiPorts();
        CurrentMidiPorts()->OpenOutput(0);

        std::printf("playing %zu messages, due over %u ms\n", schedule.size(),
                    schedule.empty() ? 0u : schedule.back().timeMs);
        std::fflush(stdout);
        NoProgress progress;
        // Installed last, so that its first reading is the engine's start.
        StartNotingClock engineClock;
        std::optional<std::uint64_t> start;
        {
            ScopedClock useEngineClock(engineClock);
            played = PlayFirmwareImage(image.data(), static_cast<std::uint32_t>(image.size()),
                                       &progress);
            start = engineClock.Start();
        }
        // The bus plays on its own thread: let it deliver the last message before the ports close.
        for (int wait = 0; wait < 100 && device.Received().size() < backend.Sends().size(); ++wait)
            TheSystemClock().SleepMs(10);
        TakeMidiPorts();

        const auto& sends = backend.Sends();
        if (!played || !start || sends.size() != schedule.size()) {
            std::fprintf(stderr,
                         "zav-bench-pacing: the transfer failed after %zu of %zu messages\n",
                         sends.size(), schedule.size());
            return 1;
        }
        std::vector<double> lateness;
        lateness.reserve(sends.size());
        std::size_t worst = 0;
        for (std::size_t i = 0; i < sends.size(); ++i) {
            const Steady::time_point due{std::chrono::milliseconds(*start + schedule[i].timeMs)};
            lateness.push_back(std::chrono::duration<double, std::milli>(sends[i] - due).count());
            if (lateness[i] > lateness[worst])
                worst = i;
        }
        std::printf("latest: message %zu, due at %u ms, %.3f ms late\n", worst,
                    schedule[worst].timeMs, lateness[worst]);
        std::sort(lateness.begin(), lateness.end());

        zav::emulator::Schedule expected;
        for (const auto& m : schedule)
            expected.messages.push_back({m.timeMs, m.bytes});
        expected.originMs = static_cast<std::uint32_t>(*start);
        auto report = device.Report(expected);
        // A shortened run has no checksum message to miss.
        if (messages) {
            std::erase_if(report.faults, [](const zav::fw::Fault& f) {
                return f.kind == zav::fw::FaultKind::MissingChecksum;
            });
        }
        std::printf("%s", zav::emulator::FormatReport(report).c_str());
        std::printf("sent %zu messages; lateness min=%.3f ms\n", sends.size(), lateness.front());

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double cpu =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const double rssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
        std::printf("p50=%.3f ms p99=%.3f ms max=%.3f ms cpu=%.3f s rss=%.1f MiB\n",
                    Percentile(lateness, 50), Percentile(lateness, 99), lateness.back(), cpu,
                    rssMiB);
        if (!report.Clean())
            return 1;
    }
    return played ? 0 : 1;
}
