#include "platform/midi/virtual/EmulatedZavDevice.h"

#include <string_view>
#include <vector>

namespace zav::platform {

namespace {
std::wstring PortName(emulator::Model model) {
    const std::string_view name = emulator::ModelName(model);
    return std::wstring(name.begin(), name.end());
}
}  // namespace

EmulatedZavDevice::EmulatedZavDevice(VirtualMidiBus& bus, emulator::ZavDevice& device, Clock& clock,
                                     std::uint32_t pollMs)
    : m_bus(bus), m_device(device), m_clock(clock), m_name(PortName(device.GetModel())) {
    Attach();
    m_timer = m_clock.StartTimer(pollMs, [this] { Tick(); });
}

EmulatedZavDevice::~EmulatedZavDevice() {
    if (m_timer != 0)
        m_clock.KillTimer(m_timer);
    std::lock_guard lock(m_mutex);
    m_ports->SetReceiver(nullptr);
}

void EmulatedZavDevice::Attach() {
    VirtualMidiDevice& ports = m_bus.AddDevice(m_name);
    // Holds no pointer to this object: a message being played as it goes may still arrive.
    ports.SetReceiver(
        [&device = m_device, &clock = m_clock](std::span<const std::uint8_t> message) {
            device.Receive(message, clock.NowMs());
        });
    std::lock_guard lock(m_mutex);
    m_ports = &ports;
}

void EmulatedZavDevice::Tick() {
    const std::vector<emulator::Emission> due = m_device.Poll(m_clock.NowMs());
    if (due.empty())
        return;
    std::lock_guard lock(m_mutex);
    for (const emulator::Emission& emission : due)
        m_ports->Send(emission.bytes);
}

void EmulatedZavDevice::Unplug() {
    m_device.Unplug();
    std::lock_guard lock(m_mutex);
    m_ports->Unplug();
}

void EmulatedZavDevice::Replug() {
    {
        std::lock_guard lock(m_mutex);
        m_ports->SetReceiver(nullptr);
    }
    Attach();
    m_device.Replug(m_clock.NowMs());
}

VirtualMidiDevice& EmulatedZavDevice::Ports() {
    std::lock_guard lock(m_mutex);
    return *m_ports;
}

}  // namespace zav::platform
