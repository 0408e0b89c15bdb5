#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/midi/MidiService.h"

namespace zav::platform {

class VirtualMidiBus;

// The operations of the service, for naming the one a fault or a hook applies to.
enum class MidiOp {
    InOpen,
    InPrepare,
    InUnprepare,
    InAddBuffer,
    InStart,
    InStop,
    InReset,
    InClose,
    OutOpen,
    OutPrepare,
    OutUnprepare,
    OutLongMsg,
    OutReset,
    OutClose,
};

enum class VirtualPorts { InputAndOutput, InputOnly, OutputOnly };

// One message that crossed the bus, with the clock's NowMs when it did.
struct VirtualMidiRecord {
    enum class Direction { ToDevice, FromDevice };
    std::uint32_t timeMs = 0;
    Direction direction = Direction::ToDevice;
    std::wstring port;
    std::vector<std::uint8_t> bytes;
    // To the device: played. From the device: reached the program whole; false when it was lost
    // (input not open or not started, no buffer queued, the port reset or closed meanwhile).
    bool delivered = false;
};

struct VirtualMidiCounters {
    std::size_t inputBuffersAdded = 0;      // successful adds, since the device was added
    std::size_t inputBuffersQueued = 0;     // queued on its input port now
    std::size_t outputBuffersPrepared = 0;  // prepared on its output port and not unprepared
    std::size_t longMessages = 0;           // long-message calls, failed ones included
    std::size_t doneNotices = 0;            // done notices delivered
};

// The bus side of one device: an input port and an output port of the same name (or one of the
// two). It sends into the program's input and receives what the program plays to its output, and
// it carries the faults to inject. Owned by the bus, and as long-lived; every operation may be
// called from any thread, hooks and receivers included.
class VirtualMidiDevice {
public:
    const std::wstring& Name() const { return m_name; }

    // One message to the program. A message beginning F0 is SysEx and goes into the input
    // buffers that the program queued; anything else is a short message of its first three bytes
    // at most (missing ones are 0). Lost unless the input port is open and started.
    void Send(std::span<const std::uint8_t> message);
    // A short message as the platform packs it: status in bits 0-7, data in 8-15 and 16-23.
    void SendShort(std::uint32_t packed);
    // Hands the first queued input buffer back with 0 bytes, as a platform does when it gives up
    // on a buffer. False when no buffer is queued.
    bool HandBackEmptyInputBuffer();

    // Everything the program played to this device, in order.
    std::vector<std::vector<std::uint8_t>> Received() const;
    // Called on the bus's output thread with each message as it is played.
    void SetReceiver(std::function<void(std::span<const std::uint8_t>)> receiver);

    // Takes both ports off the lists. Buffers not yet played come back with their done notices;
    // later long messages give kMidiNoDevice and start gives kMidiNoDevice; stop, reset and close
    // still work, so that the program can clean up.
    void Unplug();
    bool Plugged() const;

    // Faults. Every later call of op on this device's port gives code and does nothing (0 clears).
    void Fail(MidiOp op, MidiResult code);
    // The open operation (InOpen or OutOpen) gives 0 but no handle.
    void OpenWithoutHandle(MidiOp op, bool on = true);
    // The index-th long-message call on this device, counted from 0 since it was added, gives
    // code and queues nothing.
    void FailLongMessage(std::size_t index, MidiResult code);
    // Played messages bring no done notice; the bus forgets their buffers once played.
    void WithholdDone(bool on = true);
    // Each done notice comes ms after its message was played.
    void DelayDone(std::uint32_t ms);
    // Runs on the calling thread as each call of op begins, before the bus looks at anything: for
    // setting up a race (a message arriving while the program resets, say). Empty clears.
    void OnCall(MidiOp op, std::function<void()> hook);

    VirtualMidiCounters Counters() const;

private:
    friend class VirtualMidiBus;
    VirtualMidiDevice(VirtualMidiBus& bus, std::wstring name, VirtualPorts ports);

    VirtualMidiBus& m_bus;
    const std::wstring m_name;
    const bool m_hasInput;
    const bool m_hasOutput;

    // All below under the bus's lock.
    bool m_plugged = true;
    std::uintptr_t m_inHandle = 0;
    std::uintptr_t m_outHandle = 0;
    std::map<MidiOp, MidiResult> m_failures;
    std::set<MidiOp> m_noHandle;
    std::map<std::size_t, MidiResult> m_longFailures;
    std::map<MidiOp, std::function<void()>> m_hooks;
    bool m_withholdDone = false;
    std::uint32_t m_doneDelayMs = 0;
    std::function<void(std::span<const std::uint8_t>)> m_receiver;
    std::vector<std::vector<std::uint8_t>> m_received;
    VirtualMidiCounters m_counters;
    std::set<const MidiBuffer*> m_preparedOutput;
};

// An in-process MIDI service for tests and the demo: devices are added and unplugged by name at
// run time, each one's peer object stands on the far side of the wire, and faults are injected per
// device. It behaves like the platform: device numbers follow the order in which the devices were
// added (unplugged ones leave the lists and the numbers close up), a port opens once at a time,
// buffers and codes follow MidiService.h.
//
// Threads: all input callbacks run on the bus's input thread, all output callbacks on its output
// thread; both wait on the clock given at construction, so under a VirtualClock what is due within
// a sleep has been delivered before the sleep returns. Open, close and reset wait until the
// callbacks they cause (open and close notices, handed-back buffers) have run; when called from a
// callback of the bus they run them at once on that thread.
//
// Output is played playDelay ms (clock time) after the long-message call, in order per port, and
// its done notice follows after the device's done delay.
class VirtualMidiBus final : public MidiBackend {
public:
    explicit VirtualMidiBus(Clock& clock = CurrentClock());
    ~VirtualMidiBus() override;
    VirtualMidiBus(const VirtualMidiBus&) = delete;
    VirtualMidiBus& operator=(const VirtualMidiBus&) = delete;

    // Adds a device at the end of the lists. The reference lives as long as the bus.
    VirtualMidiDevice& AddDevice(std::wstring name,
                                 VirtualPorts ports = VirtualPorts::InputAndOutput);
    // Unplugs every plugged device of that name; gives how many.
    std::size_t RemoveDevice(const std::wstring& name);

    void SetPlayDelay(std::uint32_t ms);
    std::vector<VirtualMidiRecord> Records() const;

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

    class Worker;

private:
    friend class VirtualMidiDevice;

    struct InputMessage {
        std::vector<std::uint8_t> bytes;  // SysEx
        std::uint32_t packed = 0;         // a short message, when bytes is empty
    };
    struct InPort {
        VirtualMidiDevice* device = nullptr;
        MidiInCallback callback = nullptr;
        std::uintptr_t instance = 0;
        bool started = false;
        std::uint64_t startMs = 0;
        std::deque<MidiBuffer*> queue;
        std::deque<InputMessage> pending;
    };
    struct InFlight {
        MidiBuffer* buffer = nullptr;
        std::uint64_t playAt = 0;
        bool played = false;
        std::uint64_t doneAt = 0;
    };
    struct OutPort {
        VirtualMidiDevice* device = nullptr;
        MidiOutCallback callback = nullptr;
        std::uintptr_t instance = 0;
        std::deque<InFlight> flight;
        std::uint64_t lastPlayAt = 0;
    };

    VirtualMidiDevice* InputDevice(std::uint32_t number);
    VirtualMidiDevice* OutputDevice(std::uint32_t number);
    VirtualMidiDevice* DeviceOf(MidiInHandle handle);
    VirtualMidiDevice* DeviceOf(MidiOutHandle handle);
    // Runs the device's hook for op, if any, on the calling thread.
    void RunHook(VirtualMidiDevice* device, MidiOp op);
    void RunHook(MidiInHandle handle, MidiOp op);
    void RunHook(MidiOutHandle handle, MidiOp op);
    MidiResult Failure(const VirtualMidiDevice& device, MidiOp op) const;
    void Record(VirtualMidiRecord::Direction direction, const VirtualMidiDevice& device,
                std::vector<std::uint8_t> bytes, bool delivered);
    void QueueInput(VirtualMidiDevice& device, InputMessage message);
    // Hands back, with done notices, every buffer of the port; on the output thread.
    void HandBackOutput(std::uintptr_t handle);

    std::optional<std::uint64_t> PollInput();
    std::optional<std::uint64_t> PollOutput();

    Clock& m_clock;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<VirtualMidiDevice>> m_devices;
    std::map<std::uintptr_t, InPort> m_inputs;
    std::map<std::uintptr_t, OutPort> m_outputs;
    std::uintptr_t m_nextHandle = 1;
    std::uint32_t m_playDelayMs = 1;
    std::vector<VirtualMidiRecord> m_records;

    std::unique_ptr<Worker> m_inputWorker;
    std::unique_ptr<Worker> m_outputWorker;
};

}  // namespace zav::platform
