#pragma once

#include <atomic>
#include <cstdint>

#include "emulator/ZavDevice.h"
#include "platform/midi/virtual/EmulatedZavDevice.h"
#include "platform/midi/virtual/VirtualMidiBus.h"

namespace zav::demo {

// An emulated ZAV5 on a virtual MIDI bus, installed as the program's MIDI service, with a user's
// hand on it: it speaks in its normal mode and, once the program has heard it and closed its
// ports, is switched to update mode, as someone following the prompts would do.
class DemoDevice {
public:
    DemoDevice();
    ~DemoDevice();
    DemoDevice(const DemoDevice&) = delete;
    DemoDevice& operator=(const DemoDevice&) = delete;

    const emulator::ZavDevice& Device() const { return m_device; }

private:
    // More than the bus takes to play a message handed over.
    static constexpr std::uint32_t kUserMomentMs = 10;

    // On the program's thread that closes the input port.
    void OnInputClosing();

    platform::VirtualMidiBus m_bus;
    platform::ScopedMidiBackend m_installed{m_bus};
    emulator::ZavDevice m_device;
    platform::EmulatedZavDevice m_plugged;
    std::atomic<bool> m_switched{false};
};

}  // namespace zav::demo
