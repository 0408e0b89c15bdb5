#pragma once

#include <array>
#include <cstdint>

// The program's MIDI service: numbered input and output devices, opened with a callback, fed and
// drained through buffer records, with numbered result codes and callback messages. Everything
// above this layer calls only these functions; a backend (virtual bus, RtMidi) does the work.
//
// Threads. Each backend delivers the callbacks of an input port on one input callback thread and
// those of an output port on one output callback thread, both its own, never on a caller's thread,
// and never two callbacks of one port at the same time. A callback may call the buffer operations
// of its own port (prepare, unprepare, add a buffer) but must not stop, reset or close it.
// Once MidiInClose or MidiOutClose has returned 0, no callback for that handle runs or begins; the
// same holds, for the buffers handed back, once a reset has returned 0.
//
// Buffers. A MidiBuffer and the bytes it points to stay the caller's: the backend uses them from
// the add (or long-message) call until it hands the buffer back with MIM_LONGDATA or MOM_DONE, or
// until a reset returns 0. It writes bytesRecorded and flags only while it holds the buffer and in
// the prepare and unprepare calls.

namespace zav::platform {

using MidiResult = std::uint32_t;

// Result codes.
inline constexpr MidiResult kMidiOk = 0;
inline constexpr MidiResult kMidiError = 1;        // unspecified failure
inline constexpr MidiResult kMidiBadDeviceId = 2;  // no device with that number
inline constexpr MidiResult kMidiNotEnabled = 3;
inline constexpr MidiResult kMidiAllocated = 4;  // the port is open already
inline constexpr MidiResult kMidiInvalidHandle = 5;
inline constexpr MidiResult kMidiNoDriver = 6;
inline constexpr MidiResult kMidiNoMemory = 7;
inline constexpr MidiResult kMidiNotSupported = 8;
inline constexpr MidiResult kMidiInvalidFlag = 10;
inline constexpr MidiResult kMidiInvalidParameter = 11;  // a null or empty buffer, a null out-value
inline constexpr MidiResult kMidiUnprepared = 64;        // the buffer was not prepared
inline constexpr MidiResult kMidiStillPlaying = 65;      // the buffer is still queued
inline constexpr MidiResult kMidiNoMap = 66;
inline constexpr MidiResult kMidiNotReady = 67;  // the port is busy
inline constexpr MidiResult kMidiNoDevice = 68;  // the device has gone
inline constexpr MidiResult kMidiInvalidSetup = 69;
inline constexpr MidiResult kMidiBadOpenMode = 70;

// Callback messages; param1 and param2 as noted.
inline constexpr std::uint32_t kMimOpen = 0x3C1;
inline constexpr std::uint32_t kMimClose = 0x3C2;
// param1: a short message, status in bits 0-7, data in bits 8-15 and 16-23; param2: ms since start.
inline constexpr std::uint32_t kMimData = 0x3C3;
// param1: the MidiBuffer handed back, bytesRecorded set (0 on a reset); param2: ms since start.
inline constexpr std::uint32_t kMimLongData = 0x3C4;
inline constexpr std::uint32_t kMimError = 0x3C5;      // param1: an invalid short message
inline constexpr std::uint32_t kMimLongError = 0x3C6;  // param1: a buffer with an invalid message
inline constexpr std::uint32_t kMimMoreData = 0x3CC;   // as kMimData, more waiting
inline constexpr std::uint32_t kMomOpen = 0x3C7;
inline constexpr std::uint32_t kMomClose = 0x3C8;
inline constexpr std::uint32_t kMomDone = 0x3C9;  // param1: the MidiBuffer played or handed back

// MidiBuffer flags.
inline constexpr std::uint32_t kMidiBufferDone = 0x1;
inline constexpr std::uint32_t kMidiBufferPrepared = 0x2;
inline constexpr std::uint32_t kMidiBufferQueued = 0x4;

// A buffer record. For input, bufferLength bytes at data are free to be filled; for output, the
// first bufferLength bytes at data are one complete SysEx message.
struct MidiBuffer {
    std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;
    std::uint32_t bytesRecorded = 0;
    std::uintptr_t user = 0;  // the caller's, untouched
    std::uint32_t flags = 0;
};

// What a device tells of itself: its port name, at most 31 characters and a terminating NUL.
struct MidiCaps {
    std::array<wchar_t, 32> name{};
};

// Opaque handles; the value-initialised handle is the null one.
enum class MidiInHandle : std::uintptr_t {};
enum class MidiOutHandle : std::uintptr_t {};
inline constexpr MidiInHandle kNoMidiIn{};
inline constexpr MidiOutHandle kNoMidiOut{};

// handle, message, the instance data given to the open call, param1, param2.
using MidiInCallback = void (*)(MidiInHandle, std::uint32_t, std::uintptr_t, std::uintptr_t,
                                std::uintptr_t);
using MidiOutCallback = void (*)(MidiOutHandle, std::uint32_t, std::uintptr_t, std::uintptr_t,
                                 std::uintptr_t);

// What a backend does; the free functions below check their arguments for null and forward here.
class MidiBackend {
public:
    virtual ~MidiBackend() = default;

    virtual std::uint32_t InputCount() = 0;
    virtual MidiResult InputCaps(std::uint32_t device, MidiCaps& caps) = 0;
    virtual MidiResult OpenInput(MidiInHandle& handle, std::uint32_t device,
                                 MidiInCallback callback, std::uintptr_t instance) = 0;
    virtual MidiResult PrepareInput(MidiInHandle handle, MidiBuffer& buffer) = 0;
    virtual MidiResult UnprepareInput(MidiInHandle handle, MidiBuffer& buffer) = 0;
    virtual MidiResult AddInputBuffer(MidiInHandle handle, MidiBuffer& buffer) = 0;
    virtual MidiResult StartInput(MidiInHandle handle) = 0;
    virtual MidiResult StopInput(MidiInHandle handle) = 0;
    virtual MidiResult ResetInput(MidiInHandle handle) = 0;
    virtual MidiResult CloseInput(MidiInHandle handle) = 0;

    virtual std::uint32_t OutputCount() = 0;
    virtual MidiResult OutputCaps(std::uint32_t device, MidiCaps& caps) = 0;
    virtual MidiResult OpenOutput(MidiOutHandle& handle, std::uint32_t device,
                                  MidiOutCallback callback, std::uintptr_t instance) = 0;
    virtual MidiResult PrepareOutput(MidiOutHandle handle, MidiBuffer& buffer) = 0;
    virtual MidiResult UnprepareOutput(MidiOutHandle handle, MidiBuffer& buffer) = 0;
    virtual MidiResult SendLong(MidiOutHandle handle, MidiBuffer& buffer) = 0;
    virtual MidiResult ResetOutput(MidiOutHandle handle) = 0;
    virtual MidiResult CloseOutput(MidiOutHandle handle) = 0;
};

// The process-wide backend: one with no devices unless another has been installed. Installing is
// meant for start-up and for tests, while no port of the outgoing backend is open; the installed
// backend must outlive its use. nullptr installs the empty one; gives the one installed before.
MidiBackend& CurrentMidiBackend();
MidiBackend* InstallMidiBackend(MidiBackend* backend);

class ScopedMidiBackend {
public:
    explicit ScopedMidiBackend(MidiBackend& backend) : m_previous(InstallMidiBackend(&backend)) {}
    ~ScopedMidiBackend() { InstallMidiBackend(m_previous); }
    ScopedMidiBackend(const ScopedMidiBackend&) = delete;
    ScopedMidiBackend& operator=(const ScopedMidiBackend&) = delete;

private:
    MidiBackend* m_previous;
};

// Devices are numbered from 0 in the order of the backend's lists; a number stands for the same
// port only until a device comes or goes. Caps: kMidiBadDeviceId for a number past the list.
std::uint32_t MidiInCount();
MidiResult MidiInGetCaps(std::uint32_t device, MidiCaps& caps);
std::uint32_t MidiOutCount();
MidiResult MidiOutGetCaps(std::uint32_t device, MidiCaps& caps);

// Input. Open sets *handle (the null handle on failure; kMidiInvalidParameter for a null handle
// pointer or callback), kMidiBadDeviceId, kMidiAllocated when the port is open already. Input flows
// only between Start and Stop or Reset: short messages as kMimData, SysEx into the queued buffers,
// in order, each handed back with kMimLongData once full or once the message has ended; a message
// longer than a buffer goes on in the next one; bytes that find no buffer queued are lost.
// Prepare: 0, also for a prepared buffer. Unprepare: kMidiStillPlaying while queued, 0 otherwise.
// AddBuffer: kMidiUnprepared, kMidiStillPlaying when queued already. Stop hands back a partly
// filled buffer; Reset stops and hands back every queued buffer (bytesRecorded 0 when empty).
// Close: kMidiStillPlaying while buffers are queued (the port stays open).
MidiResult MidiInOpen(MidiInHandle* handle, std::uint32_t device, MidiInCallback callback,
                      std::uintptr_t instance);
MidiResult MidiInPrepare(MidiInHandle handle, MidiBuffer* buffer);
MidiResult MidiInUnprepare(MidiInHandle handle, MidiBuffer* buffer);
MidiResult MidiInAddBuffer(MidiInHandle handle, MidiBuffer* buffer);
MidiResult MidiInStart(MidiInHandle handle);
MidiResult MidiInStop(MidiInHandle handle);
MidiResult MidiInReset(MidiInHandle handle);
MidiResult MidiInClose(MidiInHandle handle);

// Output. LongMsg queues a prepared buffer holding one SysEx message and returns; the message is
// played later and the buffer handed back with kMomDone, one notice per buffer. kMidiUnprepared,
// kMidiStillPlaying when queued already, kMidiInvalidParameter for an empty buffer, kMidiNoDevice
// once the device has gone. Reset hands back every buffer not yet played, each with its kMomDone,
// before it returns. Close: kMidiStillPlaying while buffers are queued (the port stays open).
MidiResult MidiOutOpen(MidiOutHandle* handle, std::uint32_t device, MidiOutCallback callback,
                       std::uintptr_t instance);
MidiResult MidiOutPrepare(MidiOutHandle handle, MidiBuffer* buffer);
MidiResult MidiOutUnprepare(MidiOutHandle handle, MidiBuffer* buffer);
MidiResult MidiOutLongMsg(MidiOutHandle handle, MidiBuffer* buffer);
MidiResult MidiOutReset(MidiOutHandle handle);
MidiResult MidiOutClose(MidiOutHandle handle);

// Every handle operation gives kMidiInvalidHandle for a handle that is null, closed or unknown.

}  // namespace zav::platform
