#include "platform/midi/virtual/VirtualMidiBus.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>
#include <utility>

#include "common/CGenericException.h"

namespace zav::platform {

namespace {

std::uintptr_t Value(MidiInHandle handle) {
    return static_cast<std::uintptr_t>(handle);
}
std::uintptr_t Value(MidiOutHandle handle) {
    return static_cast<std::uintptr_t>(handle);
}

std::uintptr_t Address(MidiBuffer* buffer) {
    return reinterpret_cast<std::uintptr_t>(buffer);
}

// The program's callbacks are not to throw; should one do so anyway, the bus thread lives on.
template <typename Callback, typename Handle>
void Call(Callback callback, Handle handle, std::uint32_t message, std::uintptr_t instance,
          std::uintptr_t param1, std::uintptr_t param2) {
    try {
        callback(handle, message, instance, param1, param2);
    } catch (...) {
        ReportException();
    }
}

void HandBack(MidiBuffer& buffer) {
    buffer.flags = (buffer.flags | kMidiBufferDone) & ~kMidiBufferQueued;
}

}  // namespace

// A thread of the bus: runs posted tasks one at a time and, between them, lets the bus deliver
// whatever has fallen due, sleeping on a clock alarm until the next due time or a wake.
class VirtualMidiBus::Worker {
public:
    using Poll = std::function<std::optional<std::uint64_t>()>;

    Worker(Clock& clock, Poll poll) : m_alarm(clock.MakeAlarm()), m_poll(std::move(poll)) {
        m_thread = std::thread([this] { Run(); });
    }

    ~Worker() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_alarm->Wake();
        m_thread.join();
    }

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Wake() { m_alarm->Wake(); }

    // Runs task on this worker and gives its result; at once when called on the worker itself.
    MidiResult RunSync(std::function<MidiResult()> task) {
        if (std::this_thread::get_id() == m_thread.get_id())
            return task();
        auto promise = std::make_shared<std::promise<MidiResult>>();
        std::future<MidiResult> result = promise->get_future();
        {
            std::lock_guard lock(m_mutex);
            m_tasks.emplace_back([promise, task = std::move(task)] { promise->set_value(task()); });
        }
        m_alarm->Wake();
        return result.get();
    }

private:
    void Run() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
                if (!m_tasks.empty()) {
                    task = std::move(m_tasks.front());
                    m_tasks.pop_front();
                }
            }
            if (task) {
                task();
                continue;
            }
            const std::optional<std::uint64_t> next = m_poll();
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
                if (!m_tasks.empty())
                    continue;
            }
            if (next) {
                m_alarm->WaitUntil(*next);
            } else {
                m_alarm->Wait();
            }
        }
    }

    std::unique_ptr<ClockAlarm> m_alarm;
    Poll m_poll;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_stop = false;
    std::thread m_thread;
};

// ---- the device, bus side ----

VirtualMidiDevice::VirtualMidiDevice(VirtualMidiBus& bus, std::wstring name, VirtualPorts ports)
    : m_bus(bus),
      m_name(std::move(name)),
      m_hasInput(ports != VirtualPorts::OutputOnly),
      m_hasOutput(ports != VirtualPorts::InputOnly) {}

void VirtualMidiDevice::Send(std::span<const std::uint8_t> message) {
    VirtualMidiBus::InputMessage input;
    if (!message.empty() && message[0] == 0xF0) {
        input.bytes.assign(message.begin(), message.end());
    } else {
        for (std::size_t i = 0; i < std::min<std::size_t>(message.size(), 3); ++i) {
            input.packed |= static_cast<std::uint32_t>(message[i]) << (8 * i);
        }
    }
    m_bus.QueueInput(*this, std::move(input));
}

void VirtualMidiDevice::SendShort(std::uint32_t packed) {
    VirtualMidiBus::InputMessage input;
    input.packed = packed;
    m_bus.QueueInput(*this, std::move(input));
}

bool VirtualMidiDevice::HandBackEmptyInputBuffer() {
    return m_bus.m_inputWorker->RunSync([this]() -> MidiResult {
        std::unique_lock lock(m_bus.m_mutex);
        auto it = m_bus.m_inputs.find(m_inHandle);
        if (it == m_bus.m_inputs.end() || it->second.queue.empty())
            return kMidiError;
        VirtualMidiBus::InPort& port = it->second;
        MidiBuffer* buffer = port.queue.front();
        port.queue.pop_front();
        buffer->bytesRecorded = 0;
        HandBack(*buffer);
        const auto callback = port.callback;
        const auto instance = port.instance;
        const std::uintptr_t handle = it->first;
        const std::uint64_t stamp = m_bus.m_clock.MonotonicMs() - port.startMs;
        lock.unlock();
        Call(callback, MidiInHandle{handle}, kMimLongData, instance, Address(buffer),
             static_cast<std::uintptr_t>(stamp));
        return kMidiOk;
    }) == kMidiOk;
}

std::vector<std::vector<std::uint8_t>> VirtualMidiDevice::Received() const {
    std::lock_guard lock(m_bus.m_mutex);
    return m_received;
}

void VirtualMidiDevice::SetReceiver(std::function<void(std::span<const std::uint8_t>)> receiver) {
    std::lock_guard lock(m_bus.m_mutex);
    m_receiver = std::move(receiver);
}

void VirtualMidiDevice::Unplug() {
    std::uintptr_t out = 0;
    {
        std::lock_guard lock(m_bus.m_mutex);
        if (!m_plugged)
            return;
        m_plugged = false;
        out = m_outHandle;
        if (m_inHandle != 0) {
            // Nothing more comes from a device that has gone.
            auto it = m_bus.m_inputs.find(m_inHandle);
            for (const auto& message : it->second.pending) {
                m_bus.Record(VirtualMidiRecord::Direction::FromDevice, *this, message.bytes, false);
            }
            it->second.pending.clear();
        }
    }
    if (out != 0) {
        m_bus.m_outputWorker->RunSync([this, out] {
            m_bus.HandBackOutput(out);
            return kMidiOk;
        });
    }
}

bool VirtualMidiDevice::Plugged() const {
    std::lock_guard lock(m_bus.m_mutex);
    return m_plugged;
}

void VirtualMidiDevice::Fail(MidiOp op, MidiResult code) {
    std::lock_guard lock(m_bus.m_mutex);
    if (code == kMidiOk) {
        m_failures.erase(op);
    } else {
        m_failures[op] = code;
    }
}

void VirtualMidiDevice::OpenWithoutHandle(MidiOp op, bool on) {
    std::lock_guard lock(m_bus.m_mutex);
    if (on) {
        m_noHandle.insert(op);
    } else {
        m_noHandle.erase(op);
    }
}

void VirtualMidiDevice::FailLongMessage(std::size_t index, MidiResult code) {
    std::lock_guard lock(m_bus.m_mutex);
    if (code == kMidiOk) {
        m_longFailures.erase(index);
    } else {
        m_longFailures[index] = code;
    }
}

void VirtualMidiDevice::WithholdDone(bool on) {
    std::lock_guard lock(m_bus.m_mutex);
    m_withholdDone = on;
}

void VirtualMidiDevice::DelayDone(std::uint32_t ms) {
    std::lock_guard lock(m_bus.m_mutex);
    m_doneDelayMs = ms;
}

void VirtualMidiDevice::OnCall(MidiOp op, std::function<void()> hook) {
    std::lock_guard lock(m_bus.m_mutex);
    if (hook) {
        m_hooks[op] = std::move(hook);
    } else {
        m_hooks.erase(op);
    }
}

VirtualMidiCounters VirtualMidiDevice::Counters() const {
    std::lock_guard lock(m_bus.m_mutex);
    VirtualMidiCounters counters = m_counters;
    auto in = m_bus.m_inputs.find(m_inHandle);
    counters.inputBuffersQueued = in != m_bus.m_inputs.end() ? in->second.queue.size() : 0;
    counters.outputBuffersPrepared = m_preparedOutput.size();
    return counters;
}

// ---- the bus ----

VirtualMidiBus::VirtualMidiBus(Clock& clock) : m_clock(clock) {
    m_inputWorker = std::make_unique<Worker>(clock, [this] { return PollInput(); });
    m_outputWorker = std::make_unique<Worker>(clock, [this] { return PollOutput(); });
}

VirtualMidiBus::~VirtualMidiBus() {
    m_inputWorker.reset();
    m_outputWorker.reset();
}

VirtualMidiDevice& VirtualMidiBus::AddDevice(std::wstring name, VirtualPorts ports) {
    std::lock_guard lock(m_mutex);
    m_devices.push_back(
        std::unique_ptr<VirtualMidiDevice>(new VirtualMidiDevice(*this, std::move(name), ports)));
    return *m_devices.back();
}

std::size_t VirtualMidiBus::RemoveDevice(const std::wstring& name) {
    std::vector<VirtualMidiDevice*> matching;
    {
        std::lock_guard lock(m_mutex);
        for (auto& device : m_devices) {
            if (device->m_plugged && device->m_name == name)
                matching.push_back(device.get());
        }
    }
    for (VirtualMidiDevice* device : matching)
        device->Unplug();
    return matching.size();
}

void VirtualMidiBus::SetPlayDelay(std::uint32_t ms) {
    std::lock_guard lock(m_mutex);
    m_playDelayMs = ms;
}

std::vector<VirtualMidiRecord> VirtualMidiBus::Records() const {
    std::lock_guard lock(m_mutex);
    return m_records;
}

void VirtualMidiBus::Record(VirtualMidiRecord::Direction direction, const VirtualMidiDevice& device,
                            std::vector<std::uint8_t> bytes, bool delivered) {
    m_records.push_back({m_clock.NowMs(), direction, device.m_name, std::move(bytes), delivered});
}

VirtualMidiDevice* VirtualMidiBus::InputDevice(std::uint32_t number) {
    for (auto& device : m_devices) {
        if (device->m_plugged && device->m_hasInput && number-- == 0)
            return device.get();
    }
    return nullptr;
}

VirtualMidiDevice* VirtualMidiBus::OutputDevice(std::uint32_t number) {
    for (auto& device : m_devices) {
        if (device->m_plugged && device->m_hasOutput && number-- == 0)
            return device.get();
    }
    return nullptr;
}

VirtualMidiDevice* VirtualMidiBus::DeviceOf(MidiInHandle handle) {
    auto it = m_inputs.find(Value(handle));
    return it != m_inputs.end() ? it->second.device : nullptr;
}

VirtualMidiDevice* VirtualMidiBus::DeviceOf(MidiOutHandle handle) {
    auto it = m_outputs.find(Value(handle));
    return it != m_outputs.end() ? it->second.device : nullptr;
}

void VirtualMidiBus::RunHook(VirtualMidiDevice* device, MidiOp op) {
    std::function<void()> hook;
    {
        std::lock_guard lock(m_mutex);
        if (device == nullptr)
            return;
        auto it = device->m_hooks.find(op);
        if (it == device->m_hooks.end())
            return;
        hook = it->second;
    }
    hook();
}

void VirtualMidiBus::RunHook(MidiInHandle handle, MidiOp op) {
    VirtualMidiDevice* device = nullptr;
    {
        std::lock_guard lock(m_mutex);
        device = DeviceOf(handle);
    }
    RunHook(device, op);
}

void VirtualMidiBus::RunHook(MidiOutHandle handle, MidiOp op) {
    VirtualMidiDevice* device = nullptr;
    {
        std::lock_guard lock(m_mutex);
        device = DeviceOf(handle);
    }
    RunHook(device, op);
}

MidiResult VirtualMidiBus::Failure(const VirtualMidiDevice& device, MidiOp op) const {
    auto it = device.m_failures.find(op);
    return it != device.m_failures.end() ? it->second : kMidiOk;
}

namespace {
MidiResult FillCaps(const VirtualMidiDevice* device, MidiCaps& caps) {
    if (device == nullptr)
        return kMidiBadDeviceId;
    caps = MidiCaps{};
    const std::wstring& name = device->Name();
    std::copy_n(name.begin(), std::min(name.size(), caps.name.size() - 1), caps.name.begin());
    return kMidiOk;
}
}  // namespace

// ---- input ----

std::uint32_t VirtualMidiBus::InputCount() {
    std::lock_guard lock(m_mutex);
    return static_cast<std::uint32_t>(std::count_if(
        m_devices.begin(), m_devices.end(), [](auto& d) { return d->m_plugged && d->m_hasInput; }));
}

MidiResult VirtualMidiBus::InputCaps(std::uint32_t device, MidiCaps& caps) {
    std::lock_guard lock(m_mutex);
    return FillCaps(InputDevice(device), caps);
}

MidiResult VirtualMidiBus::OpenInput(MidiInHandle& handle, std::uint32_t number,
                                     MidiInCallback callback, std::uintptr_t instance) {
    {
        VirtualMidiDevice* device = nullptr;
        {
            std::lock_guard lock(m_mutex);
            device = InputDevice(number);
        }
        RunHook(device, MidiOp::InOpen);
    }
    std::uintptr_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        VirtualMidiDevice* device = InputDevice(number);
        if (device == nullptr)
            return kMidiBadDeviceId;
        if (MidiResult code = Failure(*device, MidiOp::InOpen))
            return code;
        if (device->m_inHandle != 0)
            return kMidiAllocated;
        if (device->m_noHandle.count(MidiOp::InOpen) != 0) {
            handle = kNoMidiIn;
            return kMidiOk;
        }
        id = m_nextHandle++;
        device->m_inHandle = id;
        InPort& port = m_inputs[id];
        port.device = device;
        port.callback = callback;
        port.instance = instance;
    }
    handle = MidiInHandle{id};
    return m_inputWorker->RunSync([=] {
        Call(callback, MidiInHandle{id}, kMimOpen, instance, 0, 0);
        return kMidiOk;
    });
}

MidiResult VirtualMidiBus::PrepareInput(MidiInHandle handle, MidiBuffer& buffer) {
    RunHook(handle, MidiOp::InPrepare);
    std::lock_guard lock(m_mutex);
    VirtualMidiDevice* device = DeviceOf(handle);
    if (device == nullptr)
        return kMidiInvalidHandle;
    if (MidiResult code = Failure(*device, MidiOp::InPrepare))
        return code;
    buffer.flags |= kMidiBufferPrepared;
    return kMidiOk;
}

MidiResult VirtualMidiBus::UnprepareInput(MidiInHandle handle, MidiBuffer& buffer) {
    RunHook(handle, MidiOp::InUnprepare);
    std::lock_guard lock(m_mutex);
    VirtualMidiDevice* device = DeviceOf(handle);
    if (device == nullptr)
        return kMidiInvalidHandle;
    if (MidiResult code = Failure(*device, MidiOp::InUnprepare))
        return code;
    if ((buffer.flags & kMidiBufferQueued) != 0)
        return kMidiStillPlaying;
    buffer.flags &= ~kMidiBufferPrepared;
    return kMidiOk;
}

MidiResult VirtualMidiBus::AddInputBuffer(MidiInHandle handle, MidiBuffer& buffer) {
    RunHook(handle, MidiOp::InAddBuffer);
    std::lock_guard lock(m_mutex);
    auto it = m_inputs.find(Value(handle));
    if (it == m_inputs.end())
        return kMidiInvalidHandle;
    VirtualMidiDevice& device = *it->second.device;
    if (MidiResult code = Failure(device, MidiOp::InAddBuffer))
        return code;
    if ((buffer.flags & kMidiBufferPrepared) == 0)
        return kMidiUnprepared;
    if ((buffer.flags & kMidiBufferQueued) != 0)
        return kMidiStillPlaying;
    buffer.flags = (buffer.flags | kMidiBufferQueued) & ~kMidiBufferDone;
    buffer.bytesRecorded = 0;
    it->second.queue.push_back(&buffer);
    ++device.m_counters.inputBuffersAdded;
    return kMidiOk;
}

MidiResult VirtualMidiBus::StartInput(MidiInHandle handle) {
    RunHook(handle, MidiOp::InStart);
    std::lock_guard lock(m_mutex);
    auto it = m_inputs.find(Value(handle));
    if (it == m_inputs.end())
        return kMidiInvalidHandle;
    VirtualMidiDevice& device = *it->second.device;
    if (MidiResult code = Failure(device, MidiOp::InStart))
        return code;
    if (!device.m_plugged)
        return kMidiNoDevice;
    if (!it->second.started) {
        it->second.started = true;
        it->second.startMs = m_clock.MonotonicMs();
    }
    return kMidiOk;
}

MidiResult VirtualMidiBus::StopInput(MidiInHandle handle) {
    RunHook(handle, MidiOp::InStop);
    // On the input thread, so that no message is being delivered as input stops.
    return m_inputWorker->RunSync([this, handle] {
        std::lock_guard lock(m_mutex);
        auto it = m_inputs.find(Value(handle));
        if (it == m_inputs.end())
            return kMidiInvalidHandle;
        if (MidiResult code = Failure(*it->second.device, MidiOp::InStop))
            return code;
        it->second.started = false;
        return kMidiOk;
    });
}

MidiResult VirtualMidiBus::ResetInput(MidiInHandle handle) {
    RunHook(handle, MidiOp::InReset);
    return m_inputWorker->RunSync([this, handle] {
        std::unique_lock lock(m_mutex);
        auto it = m_inputs.find(Value(handle));
        if (it == m_inputs.end())
            return kMidiInvalidHandle;
        InPort& port = it->second;
        if (MidiResult code = Failure(*port.device, MidiOp::InReset))
            return code;
        port.started = false;
        for (const auto& message : port.pending) {
            Record(VirtualMidiRecord::Direction::FromDevice, *port.device, message.bytes, false);
        }
        port.pending.clear();
        std::deque<MidiBuffer*> queue;
        queue.swap(port.queue);
        const auto callback = port.callback;
        const auto instance = port.instance;
        const std::uint64_t stamp = m_clock.MonotonicMs() - port.startMs;
        lock.unlock();
        for (MidiBuffer* buffer : queue) {
            buffer->bytesRecorded = 0;
            HandBack(*buffer);
            Call(callback, handle, kMimLongData, instance, Address(buffer),
                 static_cast<std::uintptr_t>(stamp));
        }
        return kMidiOk;
    });
}

MidiResult VirtualMidiBus::CloseInput(MidiInHandle handle) {
    RunHook(handle, MidiOp::InClose);
    return m_inputWorker->RunSync([this, handle] {
        std::unique_lock lock(m_mutex);
        auto it = m_inputs.find(Value(handle));
        if (it == m_inputs.end())
            return kMidiInvalidHandle;
        InPort& port = it->second;
        if (MidiResult code = Failure(*port.device, MidiOp::InClose))
            return code;
        if (!port.queue.empty())
            return kMidiStillPlaying;
        for (const auto& message : port.pending) {
            Record(VirtualMidiRecord::Direction::FromDevice, *port.device, message.bytes, false);
        }
        const auto callback = port.callback;
        const auto instance = port.instance;
        port.device->m_inHandle = 0;
        m_inputs.erase(it);
        lock.unlock();
        Call(callback, handle, kMimClose, instance, 0, 0);
        return kMidiOk;
    });
}

void VirtualMidiBus::QueueInput(VirtualMidiDevice& device, InputMessage message) {
    {
        std::lock_guard lock(m_mutex);
        auto it = m_inputs.find(device.m_inHandle);
        if (!device.m_plugged || it == m_inputs.end()) {
            std::vector<std::uint8_t> bytes = message.bytes;
            if (bytes.empty()) {
                for (int i = 0; i < 3; ++i) {
                    bytes.push_back(static_cast<std::uint8_t>(message.packed >> (8 * i)));
                }
            }
            Record(VirtualMidiRecord::Direction::FromDevice, device, std::move(bytes), false);
            return;
        }
        it->second.pending.push_back(std::move(message));
    }
    m_inputWorker->Wake();
}

std::optional<std::uint64_t> VirtualMidiBus::PollInput() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        auto it = std::find_if(m_inputs.begin(), m_inputs.end(),
                               [](const auto& entry) { return !entry.second.pending.empty(); });
        if (it == m_inputs.end())
            return std::nullopt;
        const std::uintptr_t id = it->first;
        InputMessage message = std::move(it->second.pending.front());
        it->second.pending.pop_front();
        VirtualMidiDevice& device = *it->second.device;

        if (message.bytes.empty()) {
            std::vector<std::uint8_t> bytes;
            for (int i = 0; i < 3; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(message.packed >> (8 * i)));
            }
            const bool started = it->second.started;
            Record(VirtualMidiRecord::Direction::FromDevice, device, std::move(bytes), started);
            if (!started)
                continue;
            const auto callback = it->second.callback;
            const auto instance = it->second.instance;
            const std::uint64_t stamp = m_clock.MonotonicMs() - it->second.startMs;
            lock.unlock();
            Call(callback, MidiInHandle{id}, kMimData, instance, message.packed,
                 static_cast<std::uintptr_t>(stamp));
            lock.lock();
            continue;
        }

        // SysEx: as many buffers as it takes; the port may be reset or closed between pieces.
        std::size_t offset = 0;
        while (offset < message.bytes.size()) {
            auto port = m_inputs.find(id);
            if (port == m_inputs.end() || !port->second.started || port->second.queue.empty()) {
                break;
            }
            MidiBuffer* buffer = port->second.queue.front();
            port->second.queue.pop_front();
            const std::size_t piece =
                std::min<std::size_t>(message.bytes.size() - offset, buffer->bufferLength);
            std::memcpy(buffer->data, message.bytes.data() + offset, piece);
            buffer->bytesRecorded = static_cast<std::uint32_t>(piece);
            HandBack(*buffer);
            offset += piece;
            const auto callback = port->second.callback;
            const auto instance = port->second.instance;
            const std::uint64_t stamp = m_clock.MonotonicMs() - port->second.startMs;
            lock.unlock();
            Call(callback, MidiInHandle{id}, kMimLongData, instance, Address(buffer),
                 static_cast<std::uintptr_t>(stamp));
            lock.lock();
        }
        const bool whole = offset == message.bytes.size();
        Record(VirtualMidiRecord::Direction::FromDevice, device, std::move(message.bytes), whole);
    }
}

// ---- output ----

std::uint32_t VirtualMidiBus::OutputCount() {
    std::lock_guard lock(m_mutex);
    return static_cast<std::uint32_t>(
        std::count_if(m_devices.begin(), m_devices.end(),
                      [](auto& d) { return d->m_plugged && d->m_hasOutput; }));
}

MidiResult VirtualMidiBus::OutputCaps(std::uint32_t device, MidiCaps& caps) {
    std::lock_guard lock(m_mutex);
    return FillCaps(OutputDevice(device), caps);
}

MidiResult VirtualMidiBus::OpenOutput(MidiOutHandle& handle, std::uint32_t number,
                                      MidiOutCallback callback, std::uintptr_t instance) {
    {
        VirtualMidiDevice* device = nullptr;
        {
            std::lock_guard lock(m_mutex);
            device = OutputDevice(number);
        }
        RunHook(device, MidiOp::OutOpen);
    }
    std::uintptr_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        VirtualMidiDevice* device = OutputDevice(number);
        if (device == nullptr)
            return kMidiBadDeviceId;
        if (MidiResult code = Failure(*device, MidiOp::OutOpen))
            return code;
        if (device->m_outHandle != 0)
            return kMidiAllocated;
        if (device->m_noHandle.count(MidiOp::OutOpen) != 0) {
            handle = kNoMidiOut;
            return kMidiOk;
        }
        id = m_nextHandle++;
        device->m_outHandle = id;
        OutPort& port = m_outputs[id];
        port.device = device;
        port.callback = callback;
        port.instance = instance;
    }
    handle = MidiOutHandle{id};
    return m_outputWorker->RunSync([=] {
        Call(callback, MidiOutHandle{id}, kMomOpen, instance, 0, 0);
        return kMidiOk;
    });
}

MidiResult VirtualMidiBus::PrepareOutput(MidiOutHandle handle, MidiBuffer& buffer) {
    RunHook(handle, MidiOp::OutPrepare);
    std::lock_guard lock(m_mutex);
    VirtualMidiDevice* device = DeviceOf(handle);
    if (device == nullptr)
        return kMidiInvalidHandle;
    if (MidiResult code = Failure(*device, MidiOp::OutPrepare))
        return code;
    buffer.flags |= kMidiBufferPrepared;
    device->m_preparedOutput.insert(&buffer);
    return kMidiOk;
}

MidiResult VirtualMidiBus::UnprepareOutput(MidiOutHandle handle, MidiBuffer& buffer) {
    RunHook(handle, MidiOp::OutUnprepare);
    std::lock_guard lock(m_mutex);
    VirtualMidiDevice* device = DeviceOf(handle);
    if (device == nullptr)
        return kMidiInvalidHandle;
    if (MidiResult code = Failure(*device, MidiOp::OutUnprepare))
        return code;
    if ((buffer.flags & kMidiBufferQueued) != 0)
        return kMidiStillPlaying;
    buffer.flags &= ~kMidiBufferPrepared;
    device->m_preparedOutput.erase(&buffer);
    return kMidiOk;
}

MidiResult VirtualMidiBus::SendLong(MidiOutHandle handle, MidiBuffer& buffer) {
    RunHook(handle, MidiOp::OutLongMsg);
    {
        std::lock_guard lock(m_mutex);
        auto it = m_outputs.find(Value(handle));
        if (it == m_outputs.end())
            return kMidiInvalidHandle;
        OutPort& port = it->second;
        VirtualMidiDevice& device = *port.device;
        const std::size_t index = device.m_counters.longMessages++;
        if (MidiResult code = Failure(device, MidiOp::OutLongMsg))
            return code;
        if (auto failure = device.m_longFailures.find(index);
            failure != device.m_longFailures.end()) {
            return failure->second;
        }
        if (!device.m_plugged)
            return kMidiNoDevice;
        if ((buffer.flags & kMidiBufferPrepared) == 0)
            return kMidiUnprepared;
        if ((buffer.flags & kMidiBufferQueued) != 0)
            return kMidiStillPlaying;
        buffer.flags = (buffer.flags | kMidiBufferQueued) & ~kMidiBufferDone;
        const std::uint64_t playAt =
            std::max(m_clock.MonotonicMs() + m_playDelayMs, port.lastPlayAt);
        port.lastPlayAt = playAt;
        InFlight& entry = port.flight.emplace_back();
        entry.buffer = &buffer;
        entry.playAt = playAt;
    }
    m_outputWorker->Wake();
    return kMidiOk;
}

void VirtualMidiBus::HandBackOutput(std::uintptr_t handle) {
    std::unique_lock lock(m_mutex);
    auto it = m_outputs.find(handle);
    if (it == m_outputs.end())
        return;
    std::deque<InFlight> flight;
    flight.swap(it->second.flight);
    VirtualMidiDevice& device = *it->second.device;
    device.m_counters.doneNotices += flight.size();
    const auto callback = it->second.callback;
    const auto instance = it->second.instance;
    lock.unlock();
    for (const InFlight& entry : flight) {
        HandBack(*entry.buffer);
        Call(callback, MidiOutHandle{handle}, kMomDone, instance, Address(entry.buffer), 0);
    }
}

MidiResult VirtualMidiBus::ResetOutput(MidiOutHandle handle) {
    RunHook(handle, MidiOp::OutReset);
    return m_outputWorker->RunSync([this, handle] {
        {
            std::lock_guard lock(m_mutex);
            VirtualMidiDevice* device = DeviceOf(handle);
            if (device == nullptr)
                return kMidiInvalidHandle;
            if (MidiResult code = Failure(*device, MidiOp::OutReset))
                return code;
        }
        HandBackOutput(Value(handle));
        return kMidiOk;
    });
}

MidiResult VirtualMidiBus::CloseOutput(MidiOutHandle handle) {
    RunHook(handle, MidiOp::OutClose);
    return m_outputWorker->RunSync([this, handle] {
        std::unique_lock lock(m_mutex);
        auto it = m_outputs.find(Value(handle));
        if (it == m_outputs.end())
            return kMidiInvalidHandle;
        if (MidiResult code = Failure(*it->second.device, MidiOp::OutClose))
            return code;
        if (!it->second.flight.empty())
            return kMidiStillPlaying;
        const auto callback = it->second.callback;
        const auto instance = it->second.instance;
        it->second.device->m_outHandle = 0;
        m_outputs.erase(it);
        lock.unlock();
        Call(callback, handle, kMomClose, instance, 0, 0);
        return kMidiOk;
    });
}

std::optional<std::uint64_t> VirtualMidiBus::PollOutput() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        const std::uint64_t now = m_clock.MonotonicMs();
        std::optional<std::uint64_t> next;
        OutPort* duePort = nullptr;
        std::uintptr_t dueHandle = 0;
        std::size_t dueIndex = 0;
        std::uint64_t dueAt = 0;
        for (auto& [handle, port] : m_outputs) {
            for (std::size_t i = 0; i < port.flight.size(); ++i) {
                const InFlight& entry = port.flight[i];
                const std::uint64_t at = entry.played ? entry.doneAt : entry.playAt;
                if (at > now) {
                    if (!next || at < *next)
                        next = at;
                } else if (duePort == nullptr || at < dueAt) {
                    duePort = &port;
                    dueHandle = handle;
                    dueIndex = i;
                    dueAt = at;
                }
            }
        }
        if (duePort == nullptr)
            return next;

        InFlight& entry = duePort->flight[dueIndex];
        VirtualMidiDevice& device = *duePort->device;
        if (!entry.played) {
            const MidiBuffer& buffer = *entry.buffer;
            std::vector<std::uint8_t> bytes(buffer.data, buffer.data + buffer.bufferLength);
            Record(VirtualMidiRecord::Direction::ToDevice, device, bytes, true);
            device.m_received.push_back(bytes);
            entry.played = true;
            entry.doneAt = now + device.m_doneDelayMs;
            if (device.m_withholdDone) {
                HandBack(*entry.buffer);
                duePort->flight.erase(duePort->flight.begin() +
                                      static_cast<std::ptrdiff_t>(dueIndex));
            }
            auto receiver = device.m_receiver;
            if (receiver) {
                lock.unlock();
                try {
                    receiver(bytes);
                } catch (...) {
                    ReportException();
                }
                lock.lock();
            }
            continue;
        }

        MidiBuffer* buffer = entry.buffer;
        duePort->flight.erase(duePort->flight.begin() + static_cast<std::ptrdiff_t>(dueIndex));
        ++device.m_counters.doneNotices;
        HandBack(*buffer);
        const auto callback = duePort->callback;
        const auto instance = duePort->instance;
        lock.unlock();
        Call(callback, MidiOutHandle{dueHandle}, kMomDone, instance, Address(buffer), 0);
        lock.lock();
    }
}

}  // namespace zav::platform
