#include "midi/DeviceLink.h"

#include <optional>

#include "common/CGenericException.h"
#include "midi/DeviceReply.h"
#include "midi/MidiPorts.h"
#include "midi/PortDiscovery.h"
#include "platform/clock/Clock.h"

namespace {

std::atomic<DeviceLink*> g_deviceLink{nullptr};

constexpr std::uint32_t kTimerPeriodMs = 1;

HeardState StateOf(const DeviceLink& link) {
    return {link.lastHeard.load(), link.heardStatus};
}

void Store(DeviceLink& link, HeardState state) {
    link.heardStatus = state.heardStatus;
    link.lastHeard.store(state.lastHeard);
}

}  // namespace

DeviceLink* CurrentDeviceLink() {
    return g_deviceLink.load();
}

void CreateDeviceLink() {
    if (CurrentDeviceLink() != nullptr)
        return;
    RecreateMidiPorts();
    auto link = std::make_unique<DeviceLink>();
    zav::platform::BeginTimerPeriod(kTimerPeriodMs);
    DeviceLink* raw = link.get();
    link->timerId =
        zav::platform::StartPeriodicTimer(kSilenceTimerPeriodMs, [raw] { OnTimerTick(*raw); });
    g_deviceLink.store(link.release());
}

DeviceLink& RequireDeviceLink() {
    if (CurrentDeviceLink() == nullptr)
        CreateDeviceLink();
    return *CurrentDeviceLink();
}

std::unique_ptr<DeviceLink> TakeDeviceLink() {
    return std::unique_ptr<DeviceLink>(g_deviceLink.exchange(nullptr));
}

void DestroyDeviceLink(std::unique_ptr<DeviceLink> link) noexcept {
    if (!link)
        return;
    Disconnect(*link);
    if (link->timerId != 0) {
        zav::platform::KillPeriodicTimer(link->timerId);
        zav::platform::EndTimerPeriod(kTimerPeriodMs);
    }
}

bool Connect(DeviceLink& link) {
    Disconnect(link);
    const std::optional<DevicePorts> ports = FindDevicePorts();
    if (!ports)
        return false;
    MidiPorts& midi = RequireMidiPorts();
    if (auto code = midi.OpenInput(ports->input, &link)) {
        throw mstd::CGenericException(mstd::ErrNotConnected, static_cast<std::int32_t>(code));
    }
    if (midi.InputHandle() == zav::platform::kNoMidiIn) {
        throw mstd::CGenericException(mstd::ErrNotConnected,
                                      static_cast<std::int32_t>(zav::platform::kMidiInvalidHandle));
    }
    if (auto code = midi.StartInput()) {
        throw mstd::CGenericException(mstd::ErrNotConnected, static_cast<std::int32_t>(code));
    }
    midi.OpenOutput(ports->output);
    return true;
}

void Disconnect(DeviceLink& link) noexcept {
    try {
        MidiPorts& midi = RequireMidiPorts();
        midi.CloseInput();
        midi.CloseOutput();
    } catch (...) {
        ReportException();
    }
    try {
        std::lock_guard lock(link.lock);
        link.lastHeard.store(0);
    } catch (...) {
        ReportException();
    }
}

void OnDeviceReply(void* context, const std::uint8_t* bytes, std::uint32_t length) {
    const char c = ReadStatusCharacter(bytes, length);
    if (c == 0)
        return;
    auto& link = *static_cast<DeviceLink*>(context);
    try {
        std::lock_guard lock(link.lock);
        Store(link, ApplyStatusCharacter(StateOf(link), c, zav::platform::CalendarNowSeconds()));
    } catch (...) {
        ReportException();
    }
}

void OnTimerTick(DeviceLink& link) {
    try {
        std::lock_guard lock(link.lock);
        if (link.lastHeard.load() == 0)
            return;
        Store(link, ApplySilenceCheck(StateOf(link), zav::platform::CalendarNowSeconds()));
    } catch (...) {
        ReportException();
    }
}
