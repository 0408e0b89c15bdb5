#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "emulator/ZavDevice.h"
#include "platform/clock/Clock.h"
#include "platform/midi/virtual/VirtualMidiBus.h"

namespace zav::platform {

// An emulated ZAV device plugged into the virtual bus: a pair of ports named after its model
// ("ZAV5", "ZAV10"), its status messages sent on the clock's time, and every message that the
// program plays to the device delivered to it with its arrival time.
//
// Threads: the device is polled from a periodic timer of the clock (every pollMs), so under a
// VirtualClock its messages fall due, and reach the program, within the sleeps that pass their
// time; what the program sends reaches it on the bus's output thread. The device and the bus must
// outlive this object; the clock too.
class EmulatedZavDevice {
public:
    static constexpr std::uint32_t kDefaultPollMs = 10;

    EmulatedZavDevice(VirtualMidiBus& bus, emulator::ZavDevice& device,
                      Clock& clock = CurrentClock(), std::uint32_t pollMs = kDefaultPollMs);
    ~EmulatedZavDevice();
    EmulatedZavDevice(const EmulatedZavDevice&) = delete;
    EmulatedZavDevice& operator=(const EmulatedZavDevice&) = delete;

    // What a user does to the cable: the device and its ports go, or come back as new ports at
    // the end of the lists, the device in normal mode.
    void Unplug();
    void Replug();

    // The bus side of the ports plugged in now.
    VirtualMidiDevice& Ports();

private:
    void Attach();
    void Tick();

    VirtualMidiBus& m_bus;
    emulator::ZavDevice& m_device;
    Clock& m_clock;
    const std::wstring m_name;
    std::mutex m_mutex;
    VirtualMidiDevice* m_ports = nullptr;  // under m_mutex
    std::uint32_t m_timer = 0;
};

}  // namespace zav::platform
