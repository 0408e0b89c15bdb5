#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/UpdateReport.h"
#include "emulator/ZavDevice.h"
#include "platform/clock/Clock.h"
#include "platform/midi/rtmidi/RtMidiDevicePorts.h"
#include "resources/FirmwareImage.h"
#include "tools/emulator/EmulatorOptions.h"
#include "tools/emulator/EmulatorReport.h"

using namespace zav;

namespace {

std::atomic<bool> g_switchAsked{false};
std::atomic<bool> g_stopAsked{false};

static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnSignal(int signal) {
    if (signal == SIGUSR1) {
        g_switchAsked = true;
    } else {
        g_stopAsked = true;
    }
}

void CatchSignal(int signal) {
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void Say(const std::string& line) {
    std::printf("zav-device-emulator: %s\n", line.c_str());
    std::fflush(stdout);
}

// Written whole or not at all: a reader never sees half a report.
bool WriteReport(const std::string& file, const std::string& json) {
    const std::filesystem::path path(file);
    std::filesystem::path partial = path;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << json;
        if (!out.flush())
            return false;
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    return !error;
}

int Run(const emulator::EmulatorOptions& options) {
    platform::Clock& clock = platform::CurrentClock();
    const std::string name(emulator::ModelName(options.model));
    emulator::ZavDevice device(options.model, clock.NowMs());
    device.SetStatusPeriod(options.statusPeriodMs);
    if (options.startMode == emulator::Mode::Update)
        device.SwitchToUpdateMode();
    const emulator::Schedule schedule = emulator::ScheduleOfImage(fw::EmbeddedFirmwareImage());

    CatchSignal(SIGUSR1);
    CatchSignal(SIGINT);
    CatchSignal(SIGTERM);

    std::unique_ptr<platform::RtMidiDevicePorts> ports;
    try {
        ports = std::make_unique<platform::RtMidiDevicePorts>(
            name,
            [&](std::span<const std::uint8_t> message) { device.Receive(message, clock.NowMs()); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zav-device-emulator: %s\n", e.what());
        return 1;
    }
    Say("ports " + name + " on " + std::string(platform::MidiSystemName(ports->System())) + ", " +
        (device.GetMode() == emulator::Mode::Update ? "update" : "normal") + " mode");

    const std::uint32_t timer = clock.StartTimer(10, [&] {
        for (const emulator::Emission& emission : device.Poll(clock.NowMs())) {
            if (ports->Send(emission.bytes) != platform::kMidiOk)
                Say("a status message could not be sent");
        }
    });

    const std::uint32_t start = clock.NowMs();
    const std::uint64_t limitMs = std::uint64_t{options.timeLimitS} * 1000;
    std::optional<std::uint32_t> checksumAt;
    for (;;) {
        clock.SleepMs(10);
        const std::uint32_t elapsed = clock.NowMs() - start;
        if (g_stopAsked) {
            Say("stopped");
            break;
        }
        if (elapsed >= limitMs) {
            Say("time limit reached");
            break;
        }
        const bool asked =
            options.switchRule == emulator::SwitchRule::Signal && g_switchAsked.exchange(false);
        const bool due =
            options.switchRule == emulator::SwitchRule::After && elapsed >= options.switchAfterMs;
        if ((asked || due) && device.SwitchToUpdateMode())
            Say("switched to update mode");
        if (!checksumAt && device.Report().checksumReceived) {
            checksumAt = elapsed;
            Say("checksum message received");
        }
        if (checksumAt && elapsed - *checksumAt >= options.lingerMs)
            break;
    }
    if (timer != 0)
        clock.KillTimer(timer);

    const emulator::UpdateReport report = device.Report(schedule);
    std::printf("%s", emulator::FormatReport(report).c_str());
    std::fflush(stdout);
    ports.reset();
    if (options.reportFile && !WriteReport(*options.reportFile, emulator::ReportJson(report))) {
        std::fprintf(stderr, "zav-device-emulator: cannot write %s\n", options.reportFile->c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const emulator::ParsedOptions parsed =
        emulator::ParseEmulatorOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "zav-device-emulator: %s (see --help)\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::printf("%s", emulator::EmulatorHelp().c_str());
        return 0;
    }
    try {
        return Run(*parsed.options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zav-device-emulator: %s\n", e.what());
        return 1;
    }
}
