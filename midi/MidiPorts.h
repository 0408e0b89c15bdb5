#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/MidiService.h"

// Receives every input message: a short message as its three bytes, SysEx as it arrived in the
// input buffer (a message longer than 512 bytes in several pieces, only the first beginning F0).
// Called on the MIDI input callback thread with the ports' lock held: it must not call a MidiPorts
// operation. The bytes are valid during the call only.
using MidiInputHandler = void (*)(void* context, const std::uint8_t* bytes, std::uint32_t length);

// What MidiPorts keeps of the platform's port pair.
struct MidiPortsState {
    // A buffer record with the data it owns.
    struct Header {
        zav::platform::MidiBuffer header;
        std::unique_ptr<std::uint8_t[]> data;
    };

    zav::platform::MidiInHandle inputHandle{};
    zav::platform::MidiOutHandle outputHandle{};
    // The one input buffer, 512 bytes, while an input port is open.
    std::unique_ptr<Header> inputHeader;
    // Sent SysEx messages that the platform has not handed back, ordered by header address.
    std::map<const zav::platform::MidiBuffer*, std::unique_ptr<Header>> pendingHeaders;
    std::mutex lock;
};

// The process-wide MIDI port pair: opens and closes one input and one output port, hands every
// received message to the input handler, and sends SysEx messages, keeping each one's buffer
// until the platform has played it.
//
// Threads. The operations are called by one thread at a time (the device link's callers, the
// update engine for SendSysEx, the teardown); the callers see to that. OnMidiIn runs on the
// platform's input callback thread and holds the ports' lock while it calls the handler, so the
// handler may take the device link's lock inside it (ports' lock first, never the reverse).
// OnMidiOutDone runs on the platform's output callback thread. The lock guards inputStarted, the
// output handle and pendingHeaders.
//
// Results are the platform's MIDI result codes (0 success); nothing throws except OpenOutput.
class MidiPorts {
public:
    static constexpr std::uint32_t kInputBufferSize = 512;

    MidiPorts();
    // CloseInput, then CloseOutput.
    ~MidiPorts();
    MidiPorts(const MidiPorts&) = delete;
    MidiPorts& operator=(const MidiPorts&) = delete;

    // Closes any open input, then opens the given input device with the device link's reply
    // filter as the handler and context as its first argument; allocates the 512-byte buffer on
    // success. Does not start input. The handler can be another for tests.
    zav::platform::MidiResult OpenInput(std::uint32_t device, void* context);
    zav::platform::MidiResult OpenInput(std::uint32_t device, void* context,
                                        MidiInputHandler handler);
    // Prepares and queues the buffer, then starts input; the first nonzero code.
    zav::platform::MidiResult StartInput();
    // Stops, resets and closes input; the code of the close, 0 when no input was open. No message
    // reaches the handler once CloseInput has begun.
    zav::platform::MidiResult CloseInput();

    // Closes any open output, then opens the given output device. Throws mstd::CGenericException
    // with code 1000 and the platform's code as detail (5 when it gave no handle).
    void OpenOutput(std::uint32_t device);
    // Resets output and releases every pending buffer; the code of the reset (the buffers stay
    // pending when it fails). 0 at once when output was not open or was reset already.
    zav::platform::MidiResult ResetOutput();
    // ResetOutput, then closes the port.
    void CloseOutput();
    // Sends one complete SysEx message (F0 ... F7) as a long message, from a copy: the caller may
    // reuse its bytes at once. 0 without sending when no output port is open; a nonzero code means
    // the message was not sent (its buffer stays pending until the next reset).
    zav::platform::MidiResult SendSysEx(const std::uint8_t* bytes, std::uint32_t length);

    // The callbacks registered with the platform; instance is the MidiPorts object.
    static void OnMidiIn(zav::platform::MidiInHandle handle, std::uint32_t message,
                         std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t param2);
    static void OnMidiOutDone(zav::platform::MidiOutHandle handle, std::uint32_t message,
                              std::uintptr_t instance, std::uintptr_t param1,
                              std::uintptr_t param2);

    zav::platform::MidiInHandle InputHandle() const { return state->inputHandle; }
    zav::platform::MidiOutHandle OutputHandle() const;
    bool InputStarted() const;
    bool OutputOpen() const { return outputOpen; }
    std::size_t PendingCount() const;

private:
    std::unique_ptr<MidiPortsState> state;
    MidiInputHandler inputHandler = nullptr;
    void* handlerContext = nullptr;
    bool inputStarted = false;
    bool outputOpen = false;
};

// The process-wide reference; empty until RecreateMidiPorts. Creating and tearing down happen
// while no other thread uses the object.
MidiPorts* CurrentMidiPorts();
// Destroys the current object, if any (its reference emptied first), and puts a fresh, closed one
// in the reference. Gives 0.
std::uint32_t RecreateMidiPorts();
// The current object, made by RecreateMidiPorts when the reference is empty.
MidiPorts& RequireMidiPorts();
// Empties the reference and hands over the object, for teardown: destroying it closes the ports.
std::unique_ptr<MidiPorts> TakeMidiPorts();
