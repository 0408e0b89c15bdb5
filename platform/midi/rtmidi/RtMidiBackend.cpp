#include "platform/midi/rtmidi/RtMidiBackend.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "common/CGenericException.h"
#include "platform/midi/rtmidi/CallbackThread.h"
#include "platform/midi/rtmidi/RtMidiSupport.h"

namespace zav::platform {

using rtmidi::ErrorSink;
using rtmidi::Guarded;

namespace {

using Clock = std::chrono::steady_clock;

// The longest a done notice waits for the system to pass its message on, should it stall.
constexpr unsigned kPassLimitMs = 1000;

std::uintptr_t Address(MidiBuffer* buffer) {
    return reinterpret_cast<std::uintptr_t>(buffer);
}

void HandBack(MidiBuffer& buffer) {
    buffer.flags = (buffer.flags | kMidiBufferDone) & ~kMidiBufferQueued;
}

std::uintptr_t MsSince(Clock::time_point start) {
    return static_cast<std::uintptr_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The program's callbacks are not to throw; should one do so anyway, the backend's thread lives
// on.
template <typename Callback, typename Handle>
void Call(Callback callback, Handle handle, std::uint32_t message, std::uintptr_t instance,
          std::uintptr_t param1, std::uintptr_t param2) {
    try {
        callback(handle, message, instance, param1, param2);
    } catch (...) {
        ReportException();
    }
}

// A port of the system as the lists hold it.
struct Listed {
    std::string systemName;
    MidiCaps caps;
    bool present = true;
    std::uintptr_t openHandle = 0;  // 0 while not open
};

enum class Direction { In, Out };

}  // namespace

class RtMidiBackend::Impl {
public:
    struct Arrival {
        std::vector<std::uint8_t> bytes;
        std::uintptr_t stampMs = 0;
    };

    struct InPort {
        Impl* owner = nullptr;
        std::uintptr_t id = 0;
        std::size_t entry = 0;
        MidiInCallback callback = nullptr;
        std::uintptr_t instance = 0;
        std::shared_ptr<const rtmidi::ServerWatch> server;  // of the server it was opened on
        ErrorSink errors;
        std::unique_ptr<RtMidiIn> midi;

        std::mutex mutex;  // guards what follows
        bool started = false;
        Clock::time_point startTime = Clock::now();
        std::deque<MidiBuffer*> queue;
        std::deque<Arrival> arrivals;
        bool deliveryPosted = false;
    };

    struct OutPort {
        std::uintptr_t id = 0;
        std::size_t entry = 0;
        MidiOutCallback callback = nullptr;
        std::uintptr_t instance = 0;
        std::shared_ptr<const rtmidi::ServerWatch> server;  // of the server it was opened on
        ErrorSink errors;
        std::unique_ptr<RtMidiOut> midi;

        std::mutex mutex;  // guards what follows
        std::deque<MidiBuffer*> queue;
        bool drainPosted = false;
        // Once the device has gone or the system refused a message, every later long message.
        MidiResult failure = kMidiOk;
    };

    explicit Impl(RtMidiBackendOptions options);
    ~Impl();

    MidiSystem system = MidiSystem::Jack;
    std::string clientName;

    std::uint32_t Count(Direction direction);
    MidiResult Caps(Direction direction, std::uint32_t device, MidiCaps& caps);
    // Whether the listed port `entry` is there now.
    bool Present(Direction direction, std::size_t entry);

    MidiResult OpenInput(MidiInHandle& handle, std::uint32_t device, MidiInCallback callback,
                         std::uintptr_t instance);
    std::shared_ptr<InPort> FindInput(MidiInHandle handle);
    static void OnRtMidiInput(double, std::vector<unsigned char>* message, void* user);
    void Deliver(std::uintptr_t id);
    MidiResult StopInput(MidiInHandle handle, bool reset);
    MidiResult CloseInput(MidiInHandle handle);

    MidiResult OpenOutput(MidiOutHandle& handle, std::uint32_t device, MidiOutCallback callback,
                          std::uintptr_t instance);
    std::shared_ptr<OutPort> FindOutput(MidiOutHandle handle);
    MidiResult SendLong(MidiOutHandle handle, MidiBuffer& buffer);
    void Drain(std::uintptr_t id);
    MidiResult ResetOutput(MidiOutHandle handle);
    MidiResult CloseOutput(MidiOutHandle handle);

private:
    // Lists the system's ports into the table; under m_listMutex.
    void Refresh(Direction direction);
    // Under m_listMutex: a fresh watch while none reached a server, and fresh listers, on a
    // server that may have come since, once the one watched has gone.
    void Rewatch();
    std::shared_ptr<const rtmidi::ServerWatch> Watch();
    bool OwnPort(std::string_view systemName) const;
    // Reserves the listed port for a handle, or gives the code why not.
    MidiResult Reserve(Direction direction, std::uint32_t device, std::uintptr_t id);
    void Release(Direction direction, std::size_t entry);
    // The index under which midi lists the table's port `entry` now; nothing when it has gone.
    template <typename Midi>
    std::optional<unsigned> IndexOf(Midi& midi, ErrorSink& errors, Direction direction,
                                    std::size_t entry);

    std::mutex m_listMutex;  // guards the listers and the tables
    ErrorSink m_listErrors;
    std::unique_ptr<RtMidiIn> m_inLister;
    std::unique_ptr<RtMidiOut> m_outLister;
    std::shared_ptr<rtmidi::ServerWatch> m_watch;
    bool m_chosen = false;  // a system could be opened at all
    bool m_usable = false;  // both listers are there
    std::vector<Listed> m_inputs;
    std::vector<Listed> m_outputs;

    std::mutex m_portsMutex;  // guards the maps and the handle counter; taken before a port's
    std::map<std::uintptr_t, std::shared_ptr<InPort>> m_inPorts;
    std::map<std::uintptr_t, std::shared_ptr<OutPort>> m_outPorts;
    std::uintptr_t m_nextHandle = 1;

    std::size_t m_maxMessage = 0;
    std::unique_ptr<CallbackThread> m_inputThread;
    std::unique_ptr<CallbackThread> m_outputThread;
};

// ---- lists ----

RtMidiBackend::Impl::Impl(RtMidiBackendOptions options)
    : clientName(std::move(options.clientName)) {
    rtmidi::QuietSystemMessages();
    // The first system on which both directions open; it stays for the backend's life.
    for (MidiSystem candidate :
         options.systems.empty() ? rtmidi::CompiledSystems() : options.systems) {
        m_inLister = rtmidi::MakeInput(candidate, clientName, m_listErrors);
        m_outLister = rtmidi::MakeOutput(candidate, clientName, m_listErrors);
        if (m_inLister && m_outLister) {
            system = candidate;
            m_chosen = true;
            m_usable = true;
            break;
        }
        Guarded(m_listErrors, kMidiOk, [&] {
            m_inLister.reset();
            m_outLister.reset();
        });
    }
    m_watch = std::make_shared<rtmidi::ServerWatch>(system, clientName);
    m_maxMessage = rtmidi::MaxMessageSize(system);
    m_inputThread = std::make_unique<CallbackThread>();
    m_outputThread = std::make_unique<CallbackThread>();
}

RtMidiBackend::Impl::~Impl() {
    // The system's objects go first, so that nothing arrives for a thread that has ended.
    std::map<std::uintptr_t, std::shared_ptr<InPort>> inputs;
    std::map<std::uintptr_t, std::shared_ptr<OutPort>> outputs;
    {
        std::lock_guard lock(m_portsMutex);
        inputs.swap(m_inPorts);
        outputs.swap(m_outPorts);
    }
    for (auto& [id, port] : inputs)
        rtmidi::Retire(port->midi, *port->server, port->errors);
    for (auto& [id, port] : outputs)
        rtmidi::Retire(port->midi, *port->server, port->errors);
    m_inputThread.reset();
    m_outputThread.reset();
    std::lock_guard lock(m_listMutex);
    if (m_watch) {
        rtmidi::Retire(m_inLister, *m_watch, m_listErrors);
        rtmidi::Retire(m_outLister, *m_watch, m_listErrors);
    }
}

bool RtMidiBackend::Impl::OwnPort(std::string_view systemName) const {
    // Further clients of one name are numbered by the system: "name-01".
    if (systemName.substr(0, clientName.size()) != clientName)
        return false;
    const std::string_view rest = systemName.substr(clientName.size());
    return !rest.empty() && (rest[0] == ':' || rest[0] == '-');
}

void RtMidiBackend::Impl::Rewatch() {
    if (!m_chosen)
        return;
    if (m_watch->Lost()) {
        // RtMidi's clients of a server that has gone list its ports on: new ones, for whatever
        // server runs now. Their ports come back under their old numbers.
        rtmidi::Retire(m_inLister, *m_watch, m_listErrors);
        rtmidi::Retire(m_outLister, *m_watch, m_listErrors);
        m_inLister = rtmidi::MakeInput(system, clientName, m_listErrors);
        m_outLister = rtmidi::MakeOutput(system, clientName, m_listErrors);
        m_usable = m_inLister && m_outLister;
        m_watch = std::make_shared<rtmidi::ServerWatch>(system, clientName);
    } else if (system == MidiSystem::Jack && !m_watch->Watching()) {
        m_watch = std::make_shared<rtmidi::ServerWatch>(system, clientName);
    }
}

std::shared_ptr<const rtmidi::ServerWatch> RtMidiBackend::Impl::Watch() {
    std::lock_guard lock(m_listMutex);
    return m_watch;
}

void RtMidiBackend::Impl::Refresh(Direction direction) {
    Rewatch();
    std::vector<std::string> names;
    auto list = [&](auto& midi) {
        const unsigned count = midi.getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            std::string name = midi.getPortName(i);
            // Empty when the port went between the two calls.
            if (!name.empty() && !OwnPort(name))
                names.push_back(std::move(name));
        }
    };
    const MidiResult code = !m_usable ? kMidiNoDevice : Guarded(m_listErrors, kMidiOk, [&] {
        if (direction == Direction::In) {
            list(*m_inLister);
        } else {
            list(*m_outLister);
        }
    });
    if (code != kMidiOk)
        names.clear();

    std::vector<Listed>& table = direction == Direction::In ? m_inputs : m_outputs;
    for (Listed& entry : table)
        entry.present = false;
    // Two ports of one system name take the entries of that name in order.
    for (const std::string& name : names) {
        auto it = std::find_if(table.begin(), table.end(), [&](const Listed& entry) {
            return !entry.present && entry.systemName == name;
        });
        if (it != table.end()) {
            it->present = true;
        } else {
            Listed entry;
            entry.systemName = name;
            entry.caps = CapsFromName(DisplayPortName(system, name));
            table.push_back(std::move(entry));
        }
    }
}

std::uint32_t RtMidiBackend::Impl::Count(Direction direction) {
    std::lock_guard lock(m_listMutex);
    Refresh(direction);
    return static_cast<std::uint32_t>(direction == Direction::In ? m_inputs.size()
                                                                 : m_outputs.size());
}

MidiResult RtMidiBackend::Impl::Caps(Direction direction, std::uint32_t device, MidiCaps& caps) {
    std::lock_guard lock(m_listMutex);
    const std::vector<Listed>& table = direction == Direction::In ? m_inputs : m_outputs;
    if (device >= table.size())
        return kMidiBadDeviceId;
    if (!table[device].present)
        return kMidiNoDevice;
    caps = table[device].caps;
    return kMidiOk;
}

bool RtMidiBackend::Impl::Present(Direction direction, std::size_t entry) {
    std::lock_guard lock(m_listMutex);
    Refresh(direction);
    const std::vector<Listed>& table = direction == Direction::In ? m_inputs : m_outputs;
    return entry < table.size() && table[entry].present;
}

MidiResult RtMidiBackend::Impl::Reserve(Direction direction, std::uint32_t device,
                                        std::uintptr_t id) {
    std::lock_guard lock(m_listMutex);
    std::vector<Listed>& table = direction == Direction::In ? m_inputs : m_outputs;
    if (device >= table.size())
        return kMidiBadDeviceId;
    Listed& entry = table[device];
    if (!entry.present)
        return kMidiNoDevice;
    if (entry.openHandle != 0)
        return kMidiAllocated;
    entry.openHandle = id;
    return kMidiOk;
}

void RtMidiBackend::Impl::Release(Direction direction, std::size_t entry) {
    std::lock_guard lock(m_listMutex);
    std::vector<Listed>& table = direction == Direction::In ? m_inputs : m_outputs;
    table[entry].openHandle = 0;
}

template <typename Midi>
std::optional<unsigned> RtMidiBackend::Impl::IndexOf(Midi& midi, ErrorSink& errors,
                                                     Direction direction, std::size_t entry) {
    // Among ports of one system name, the rank counts those listed before it.
    std::string systemName;
    std::size_t rank = 0;
    {
        std::lock_guard lock(m_listMutex);
        const std::vector<Listed>& table = direction == Direction::In ? m_inputs : m_outputs;
        systemName = table[entry].systemName;
        for (std::size_t i = 0; i < entry; ++i) {
            if (table[i].present && table[i].systemName == systemName)
                ++rank;
        }
    }
    std::optional<unsigned> index;
    Guarded(errors, kMidiOk, [&] {
        const unsigned count = midi.getPortCount();
        for (unsigned i = 0; i < count && !index; ++i) {
            if (midi.getPortName(i) == systemName && rank-- == 0)
                index = i;
        }
    });
    return index;
}

// ---- input ----

MidiResult RtMidiBackend::Impl::OpenInput(MidiInHandle& handle, std::uint32_t device,
                                          MidiInCallback callback, std::uintptr_t instance) {
    auto port = std::make_shared<InPort>();
    port->server = Watch();
    port->owner = this;
    port->callback = callback;
    port->instance = instance;
    port->entry = device;
    {
        std::lock_guard lock(m_portsMutex);
        port->id = m_nextHandle++;
    }
    if (MidiResult code = Reserve(Direction::In, device, port->id))
        return code;
    port->midi = rtmidi::MakeInput(system, clientName, port->errors);
    MidiResult code = port->midi ? kMidiOk : kMidiNoDevice;
    if (code == kMidiOk) {
        code = Guarded(port->errors, kMidiOk, [&] {
            // SysEx, timing and active sensing are all wanted: the program decides what to drop.
            port->midi->ignoreTypes(false, false, false);
            port->midi->setCallback(&OnRtMidiInput, port.get());
        });
    }
    std::optional<unsigned> index;
    if (code == kMidiOk) {
        index = IndexOf(*port->midi, port->errors, Direction::In, device);
        if (!index)
            code = kMidiNoDevice;
    }
    if (code == kMidiOk) {
        // A port number that has gone by now gives only a warning; it is a failure here.
        code = Guarded(port->errors, kMidiNoDevice, [&] { port->midi->openPort(*index, "in"); });
    }
    if (code != kMidiOk) {
        rtmidi::Retire(port->midi, *port->server, port->errors);
        Release(Direction::In, device);
        return code;
    }
    {
        std::lock_guard lock(m_portsMutex);
        m_inPorts[port->id] = port;
    }
    handle = MidiInHandle{port->id};
    const std::uintptr_t id = port->id;
    m_inputThread->Run([&] { Call(callback, MidiInHandle{id}, kMimOpen, instance, 0, 0); });
    return kMidiOk;
}

std::shared_ptr<RtMidiBackend::Impl::InPort> RtMidiBackend::Impl::FindInput(MidiInHandle handle) {
    std::lock_guard lock(m_portsMutex);
    auto it = m_inPorts.find(static_cast<std::uintptr_t>(handle));
    return it != m_inPorts.end() ? it->second : nullptr;
}

// On RtMidi's thread: only queues what arrived, for the input thread to hand on.
void RtMidiBackend::Impl::OnRtMidiInput(double, std::vector<unsigned char>* message, void* user) {
    auto& port = *static_cast<InPort*>(user);
    try {
        if (message == nullptr || message->empty())
            return;
        bool post = false;
        {
            std::lock_guard lock(port.mutex);
            if (!port.started)
                return;
            port.arrivals.push_back({{message->begin(), message->end()}, MsSince(port.startTime)});
            post = !port.deliveryPosted;
            port.deliveryPosted = true;
        }
        if (post) {
            Impl* owner = port.owner;
            const std::uintptr_t id = port.id;
            owner->m_inputThread->Post([owner, id] { owner->Deliver(id); });
        }
    } catch (...) {
        ReportException();
    }
}

void RtMidiBackend::Impl::Deliver(std::uintptr_t id) {
    const std::shared_ptr<InPort> port = FindInput(MidiInHandle{id});
    if (!port)
        return;
    const MidiInHandle handle{id};
    std::unique_lock lock(port->mutex);
    while (!port->arrivals.empty()) {
        Arrival arrival = std::move(port->arrivals.front());
        port->arrivals.pop_front();
        if (!port->started)
            continue;
        const std::vector<std::uint8_t>& bytes = arrival.bytes;
        if (bytes[0] != 0xF0) {
            std::uintptr_t packed = 0;
            for (std::size_t i = 0; i < std::min<std::size_t>(bytes.size(), 3); ++i)
                packed |= static_cast<std::uintptr_t>(bytes[i]) << (8 * i);
            lock.unlock();
            Call(port->callback, handle, kMimData, port->instance, packed, arrival.stampMs);
            lock.lock();
            continue;
        }
        // SysEx: as many buffers as it takes. The callback may queue the buffer again at once, or
        // the program stop the port between two pieces.
        std::size_t offset = 0;
        while (offset < bytes.size() && port->started && !port->queue.empty()) {
            MidiBuffer* buffer = port->queue.front();
            port->queue.pop_front();
            const std::size_t piece =
                std::min<std::size_t>(bytes.size() - offset, buffer->bufferLength);
            std::memcpy(buffer->data, bytes.data() + offset, piece);
            buffer->bytesRecorded = static_cast<std::uint32_t>(piece);
            HandBack(*buffer);
            offset += piece;
            lock.unlock();
            Call(port->callback, handle, kMimLongData, port->instance, Address(buffer),
                 arrival.stampMs);
            lock.lock();
        }
    }
    port->deliveryPosted = false;
}

MidiResult RtMidiBackend::Impl::StopInput(MidiInHandle handle, bool reset) {
    const std::shared_ptr<InPort> port = FindInput(handle);
    if (!port)
        return kMidiInvalidHandle;
    m_inputThread->Run([&] {
        std::deque<MidiBuffer*> queue;
        std::uintptr_t stamp = 0;
        {
            std::lock_guard lock(port->mutex);
            port->started = false;
            port->arrivals.clear();
            if (reset)
                queue.swap(port->queue);
            stamp = MsSince(port->startTime);
        }
        for (MidiBuffer* buffer : queue) {
            buffer->bytesRecorded = 0;
            HandBack(*buffer);
            Call(port->callback, handle, kMimLongData, port->instance, Address(buffer), stamp);
        }
    });
    return kMidiOk;
}

MidiResult RtMidiBackend::Impl::CloseInput(MidiInHandle handle) {
    const std::shared_ptr<InPort> port = FindInput(handle);
    if (!port)
        return kMidiInvalidHandle;
    MidiResult result = kMidiOk;
    m_inputThread->Run([&] {
        {
            std::lock_guard lock(port->mutex);
            if (!port->queue.empty()) {
                result = kMidiStillPlaying;
                return;
            }
            port->started = false;
            port->arrivals.clear();
        }
        // Not under the port's lock: RtMidi waits for its own thread, which may be waiting for it.
        rtmidi::Retire(port->midi, *port->server, port->errors);
        {
            std::lock_guard lock(m_portsMutex);
            m_inPorts.erase(port->id);
        }
        Release(Direction::In, port->entry);
        Call(port->callback, handle, kMimClose, port->instance, 0, 0);
    });
    return result;
}

// ---- output ----

MidiResult RtMidiBackend::Impl::OpenOutput(MidiOutHandle& handle, std::uint32_t device,
                                           MidiOutCallback callback, std::uintptr_t instance) {
    auto port = std::make_shared<OutPort>();
    port->server = Watch();
    port->callback = callback;
    port->instance = instance;
    port->entry = device;
    {
        std::lock_guard lock(m_portsMutex);
        port->id = m_nextHandle++;
    }
    if (MidiResult code = Reserve(Direction::Out, device, port->id))
        return code;
    port->midi = rtmidi::MakeOutput(system, clientName, port->errors);
    MidiResult code = port->midi ? kMidiOk : kMidiNoDevice;
    std::optional<unsigned> index;
    if (code == kMidiOk) {
        index = IndexOf(*port->midi, port->errors, Direction::Out, device);
        if (!index)
            code = kMidiNoDevice;
    }
    if (code == kMidiOk)
        code = Guarded(port->errors, kMidiNoDevice, [&] { port->midi->openPort(*index, "out"); });
    if (code != kMidiOk) {
        rtmidi::Retire(port->midi, *port->server, port->errors);
        Release(Direction::Out, device);
        return code;
    }
    {
        std::lock_guard lock(m_portsMutex);
        m_outPorts[port->id] = port;
    }
    handle = MidiOutHandle{port->id};
    const std::uintptr_t id = port->id;
    m_outputThread->Run([&] { Call(callback, MidiOutHandle{id}, kMomOpen, instance, 0, 0); });
    return kMidiOk;
}

std::shared_ptr<RtMidiBackend::Impl::OutPort> RtMidiBackend::Impl::FindOutput(
    MidiOutHandle handle) {
    std::lock_guard lock(m_portsMutex);
    auto it = m_outPorts.find(static_cast<std::uintptr_t>(handle));
    return it != m_outPorts.end() ? it->second : nullptr;
}

MidiResult RtMidiBackend::Impl::SendLong(MidiOutHandle handle, MidiBuffer& buffer) {
    const std::shared_ptr<OutPort> port = FindOutput(handle);
    if (!port)
        return kMidiInvalidHandle;
    {
        std::lock_guard lock(port->mutex);
        if ((buffer.flags & kMidiBufferPrepared) == 0)
            return kMidiUnprepared;
        if ((buffer.flags & kMidiBufferQueued) != 0)
            return kMidiStillPlaying;
        if (port->server->Lost())
            port->failure = kMidiNoDevice;
        if (port->failure != kMidiOk)
            return port->failure;
    }
    const std::uint32_t length = buffer.bufferLength;
    if (length < 2 || buffer.data[0] != 0xF0 || buffer.data[length - 1] != 0xF7)
        return kMidiInvalidParameter;
    if (length > m_maxMessage)
        return kMidiNotSupported;
    // A port that has gone takes messages without a word and plays them nowhere: look first.
    if (!Present(Direction::Out, port->entry)) {
        std::lock_guard lock(port->mutex);
        port->failure = kMidiNoDevice;
        return kMidiNoDevice;
    }
    bool post = false;
    {
        std::lock_guard lock(port->mutex);
        buffer.flags = (buffer.flags | kMidiBufferQueued) & ~kMidiBufferDone;
        port->queue.push_back(&buffer);
        post = !port->drainPosted;
        port->drainPosted = true;
    }
    if (post) {
        const std::uintptr_t id = port->id;
        m_outputThread->Post([this, id] { Drain(id); });
    }
    return kMidiOk;
}

// On the output thread: plays what is queued, in order, and gives each its done notice once it
// has left.
void RtMidiBackend::Impl::Drain(std::uintptr_t id) {
    const std::shared_ptr<OutPort> port = FindOutput(MidiOutHandle{id});
    if (!port)
        return;
    for (;;) {
        std::deque<MidiBuffer*> batch;
        {
            std::lock_guard lock(port->mutex);
            if (port->queue.empty()) {
                port->drainPosted = false;
                return;
            }
            batch.swap(port->queue);
        }
        for (MidiBuffer* buffer : batch) {
            MidiResult failure = kMidiOk;
            {
                std::lock_guard lock(port->mutex);
                // Sending to a server that has gone would wait for ever for room in a ring
                // buffer that nobody empties.
                if (port->failure == kMidiOk && port->server->Lost())
                    port->failure = kMidiNoDevice;
                failure = port->failure;
            }
            if (failure != kMidiOk)
                continue;
            // Every warning here is a message lost.
            const MidiResult code = Guarded(port->errors, kMidiError, [&] {
                port->midi->sendMessage(buffer->data, buffer->bufferLength);
            });
            if (code != kMidiOk) {
                std::lock_guard lock(port->mutex);
                port->failure = code;
            }
        }
        port->server->WaitUntilPassed(kPassLimitMs);
        for (MidiBuffer* buffer : batch) {
            HandBack(*buffer);
            Call(port->callback, MidiOutHandle{id}, kMomDone, port->instance, Address(buffer), 0);
        }
    }
}

MidiResult RtMidiBackend::Impl::ResetOutput(MidiOutHandle handle) {
    const std::shared_ptr<OutPort> port = FindOutput(handle);
    if (!port)
        return kMidiInvalidHandle;
    // On the output thread, so that the message being played, if any, has been played.
    m_outputThread->Run([&] {
        std::deque<MidiBuffer*> queue;
        {
            std::lock_guard lock(port->mutex);
            queue.swap(port->queue);
        }
        for (MidiBuffer* buffer : queue) {
            HandBack(*buffer);
            Call(port->callback, handle, kMomDone, port->instance, Address(buffer), 0);
        }
    });
    return kMidiOk;
}

MidiResult RtMidiBackend::Impl::CloseOutput(MidiOutHandle handle) {
    const std::shared_ptr<OutPort> port = FindOutput(handle);
    if (!port)
        return kMidiInvalidHandle;
    MidiResult result = kMidiOk;
    m_outputThread->Run([&] {
        {
            std::lock_guard lock(port->mutex);
            if (!port->queue.empty()) {
                result = kMidiStillPlaying;
                return;
            }
        }
        // RtMidi's close lets the system take what was played before the port goes.
        rtmidi::Retire(port->midi, *port->server, port->errors);
        {
            std::lock_guard lock(m_portsMutex);
            m_outPorts.erase(port->id);
        }
        Release(Direction::Out, port->entry);
        Call(port->callback, handle, kMomClose, port->instance, 0, 0);
    });
    return result;
}

// ---- the service ----

RtMidiBackend::RtMidiBackend(RtMidiBackendOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

RtMidiBackend::~RtMidiBackend() = default;

MidiSystem RtMidiBackend::System() const {
    return m_impl->system;
}

std::uint32_t RtMidiBackend::InputCount() {
    return m_impl->Count(Direction::In);
}

MidiResult RtMidiBackend::InputCaps(std::uint32_t device, MidiCaps& caps) {
    return m_impl->Caps(Direction::In, device, caps);
}

MidiResult RtMidiBackend::OpenInput(MidiInHandle& handle, std::uint32_t device,
                                    MidiInCallback callback, std::uintptr_t instance) {
    return m_impl->OpenInput(handle, device, callback, instance);
}

MidiResult RtMidiBackend::PrepareInput(MidiInHandle handle, MidiBuffer& buffer) {
    const auto port = m_impl->FindInput(handle);
    if (!port)
        return kMidiInvalidHandle;
    std::lock_guard lock(port->mutex);
    buffer.flags |= kMidiBufferPrepared;
    return kMidiOk;
}

MidiResult RtMidiBackend::UnprepareInput(MidiInHandle handle, MidiBuffer& buffer) {
    const auto port = m_impl->FindInput(handle);
    if (!port)
        return kMidiInvalidHandle;
    std::lock_guard lock(port->mutex);
    if ((buffer.flags & kMidiBufferQueued) != 0)
        return kMidiStillPlaying;
    buffer.flags &= ~kMidiBufferPrepared;
    return kMidiOk;
}

MidiResult RtMidiBackend::AddInputBuffer(MidiInHandle handle, MidiBuffer& buffer) {
    const auto port = m_impl->FindInput(handle);
    if (!port)
        return kMidiInvalidHandle;
    std::lock_guard lock(port->mutex);
    if ((buffer.flags & kMidiBufferPrepared) == 0)
        return kMidiUnprepared;
    if ((buffer.flags & kMidiBufferQueued) != 0)
        return kMidiStillPlaying;
    buffer.flags = (buffer.flags | kMidiBufferQueued) & ~kMidiBufferDone;
    buffer.bytesRecorded = 0;
    port->queue.push_back(&buffer);
    return kMidiOk;
}

MidiResult RtMidiBackend::StartInput(MidiInHandle handle) {
    const auto port = m_impl->FindInput(handle);
    if (!port)
        return kMidiInvalidHandle;
    if (port->server->Lost() || !m_impl->Present(Direction::In, port->entry))
        return kMidiNoDevice;
    std::lock_guard lock(port->mutex);
    if (!port->started) {
        port->started = true;
        port->startTime = Clock::now();
    }
    return kMidiOk;
}

MidiResult RtMidiBackend::StopInput(MidiInHandle handle) {
    return m_impl->StopInput(handle, false);
}

MidiResult RtMidiBackend::ResetInput(MidiInHandle handle) {
    return m_impl->StopInput(handle, true);
}

MidiResult RtMidiBackend::CloseInput(MidiInHandle handle) {
    return m_impl->CloseInput(handle);
}

std::uint32_t RtMidiBackend::OutputCount() {
    return m_impl->Count(Direction::Out);
}

MidiResult RtMidiBackend::OutputCaps(std::uint32_t device, MidiCaps& caps) {
    return m_impl->Caps(Direction::Out, device, caps);
}

MidiResult RtMidiBackend::OpenOutput(MidiOutHandle& handle, std::uint32_t device,
                                     MidiOutCallback callback, std::uintptr_t instance) {
    return m_impl->OpenOutput(handle, device, callback, instance);
}

MidiResult RtMidiBackend::PrepareOutput(MidiOutHandle handle, MidiBuffer& buffer) {
    const auto port = m_impl->FindOutput(handle);
    if (!port)
        return kMidiInvalidHandle;
    std::lock_guard lock(port->mutex);
    buffer.flags |= kMidiBufferPrepared;
    return kMidiOk;
}

MidiResult RtMidiBackend::UnprepareOutput(MidiOutHandle handle, MidiBuffer& buffer) {
    const auto port = m_impl->FindOutput(handle);
    if (!port)
        return kMidiInvalidHandle;
    std::lock_guard lock(port->mutex);
    if ((buffer.flags & kMidiBufferQueued) != 0)
        return kMidiStillPlaying;
    buffer.flags &= ~kMidiBufferPrepared;
    return kMidiOk;
}

MidiResult RtMidiBackend::SendLong(MidiOutHandle handle, MidiBuffer& buffer) {
    return m_impl->SendLong(handle, buffer);
}

MidiResult RtMidiBackend::ResetOutput(MidiOutHandle handle) {
    return m_impl->ResetOutput(handle);
}

MidiResult RtMidiBackend::CloseOutput(MidiOutHandle handle) {
    return m_impl->CloseOutput(handle);
}

}  // namespace zav::platform
