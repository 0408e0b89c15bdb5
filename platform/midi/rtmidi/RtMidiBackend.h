#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/PortNames.h"

namespace zav::platform {

struct RtMidiBackendOptions {
    // The name of the program's own clients on the system. Ports of clients of this name (and
    // the numbered names the system gives further clients of it) are left out of the lists.
    std::string clientName = "ZAV Updater";
    // The systems to try, in order; empty for ALSA's sequencer, then JACK, then the platform's
    // own (CoreMIDI, WinMM). A system is taken when it can be opened; JACK can always be, and
    // reaches its server once one runs.
    std::vector<MidiSystem> systems;
};

// The machine's MIDI service over RtMidi, on the one system chosen at construction.
//
// Devices. The input and output lists are the system's ports less the program's own, each
// numbered on first sight and kept under that number while the backend lives: a port that goes
// stays in the list with a failing capability query (kMidiNoDevice), and one that comes back
// under the same system name gets its old number again. Names are DisplayPortName's.
//
// Threads. Every input callback runs on the backend's input thread, every output callback on its
// output thread; RtMidi's own thread only queues what arrives. Open, stop, reset and close wait
// until the callbacks they cause have run.
//
// Input: short messages as kMimData; SysEx, which RtMidi gathers whole, poured into the queued
// buffers in order, each handed back once full or once the message has ended, a message longer
// than a buffer going on in the next; bytes that find no buffer queued are lost.
//
// Output: a long message is queued and played on the output thread, whole, in order; its done
// notice follows once the message has left: on JACK, once the server's cycles have passed it on
// to every reader (a few periods), so that closing the port after the last done notice loses
// nothing. Only complete SysEx messages
// (F0 ... F7) are played (kMidiInvalidParameter otherwise), none longer than the system carries
// in one piece (kMidiNotSupported; JACK takes at most 16379 bytes). Once the device's port has
// gone, the next long message gives kMidiNoDevice, and so does every one after it on that handle.
//
// RtMidi's errors become result codes: a device that cannot be reached kMidiNoDevice, memory
// kMidiNoMemory, anything else kMidiError. No exception leaves the backend.
class RtMidiBackend final : public MidiBackend {
public:
    explicit RtMidiBackend(RtMidiBackendOptions options = {});
    ~RtMidiBackend() override;
    RtMidiBackend(const RtMidiBackend&) = delete;
    RtMidiBackend& operator=(const RtMidiBackend&) = delete;

    MidiSystem System() const;

    std::uint32_t InputCount() override;
    MidiResult InputCaps(std::uint32_t device, MidiCaps& caps) override;
    MidiResult OpenInput(MidiInHandle& handle, std::uint32_t device, MidiInCallback callback,
                         std::uintptr_t instance) override;
    MidiResult PrepareInput(MidiInHandle handle, MidiBuffer& buffer) override;
    MidiResult UnprepareInput(MidiInHandle handle, MidiBuffer& buffer) override;
    MidiResult AddInputBuffer(MidiInHandle handle, MidiBuffer& buffer) override;
    MidiResult StartInput(MidiInHandle handle) override;
    MidiResult StopInput(MidiInHandle handle) override;
    MidiResult ResetInput(MidiInHandle handle) override;
    MidiResult CloseInput(MidiInHandle handle) override;

    std::uint32_t OutputCount() override;
    MidiResult OutputCaps(std::uint32_t device, MidiCaps& caps) override;
    MidiResult OpenOutput(MidiOutHandle& handle, std::uint32_t device, MidiOutCallback callback,
                          std::uintptr_t instance) override;
    MidiResult PrepareOutput(MidiOutHandle handle, MidiBuffer& buffer) override;
    MidiResult UnprepareOutput(MidiOutHandle handle, MidiBuffer& buffer) override;
    MidiResult SendLong(MidiOutHandle handle, MidiBuffer& buffer) override;
    MidiResult ResetOutput(MidiOutHandle handle) override;
    MidiResult CloseOutput(MidiOutHandle handle) override;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace zav::platform
