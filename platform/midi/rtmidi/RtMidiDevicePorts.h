#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/PortNames.h"

namespace zav::platform {

// The far side of the wire: a device's pair of ports published on the machine's MIDI service,
// for programs that play a device (the emulator, tests). Both ports carry `name`, so that the
// backend lists them under that name in both directions; each belongs to a client of that name.
//
// The receiver gets every message sent to the device, whole, on RtMidi's input thread, one at a
// time; it must not throw (what it throws is reported and dropped). The ports are there from
// construction until destruction: destroying the object is unplugging the device.
class RtMidiDevicePorts {
public:
    using Receiver = std::function<void(std::span<const std::uint8_t>)>;

    // On the first of `systems` (ALSA, then JACK, when empty) on which both ports can be made;
    // throws std::runtime_error when none can. JACK needs a running server.
    RtMidiDevicePorts(const std::string& name, Receiver receiver,
                      const std::vector<MidiSystem>& systems = {});
    ~RtMidiDevicePorts();
    RtMidiDevicePorts(const RtMidiDevicePorts&) = delete;
    RtMidiDevicePorts& operator=(const RtMidiDevicePorts&) = delete;

    MidiSystem System() const;

    // Sends one message to whoever listens to the device's output; from one thread at a time.
    // kMidiNotSupported for a message longer than the system carries, kMidiError when RtMidi
    // refused it.
    MidiResult Send(std::span<const std::uint8_t> message);

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace zav::platform
