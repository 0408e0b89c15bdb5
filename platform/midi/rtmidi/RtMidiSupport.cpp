#include "platform/midi/rtmidi/RtMidiSupport.h"

#include <limits>

namespace zav::platform::rtmidi {

namespace {

RtMidi::Api ApiOf(MidiSystem system) {
    switch (system) {
        case MidiSystem::Alsa:
            return RtMidi::LINUX_ALSA;
        case MidiSystem::Jack:
            return RtMidi::UNIX_JACK;
        case MidiSystem::CoreMidi:
            return RtMidi::MACOSX_CORE;
        case MidiSystem::WinMM:
            return RtMidi::WINDOWS_MM;
    }
    return RtMidi::UNSPECIFIED;
}

bool Compiled(MidiSystem system) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    for (RtMidi::Api api : apis) {
        if (api == ApiOf(system))
            return true;
    }
    return false;
}

template <typename Midi>
std::unique_ptr<Midi> Make(MidiSystem system, const std::string& client, ErrorSink& sink) {
    if (!Compiled(system))
        return nullptr;
    try {
        auto midi = std::make_unique<Midi>(ApiOf(system), client);
        if (midi->getCurrentApi() != ApiOf(system))
            return nullptr;
        sink.Install(*midi);
        return midi;
    } catch (...) {
        // ALSA without its sequencer throws here, whatever else is there.
        return nullptr;
    }
}

}  // namespace

MidiResult CodeOf(RtMidiError::Type type, MidiResult warning) {
    switch (type) {
        case RtMidiError::WARNING:
            return warning;
        case RtMidiError::DEBUG_WARNING:
            return kMidiOk;
        case RtMidiError::NO_DEVICES_FOUND:
        case RtMidiError::INVALID_DEVICE:
            return kMidiBadDeviceId;
        case RtMidiError::MEMORY_ERROR:
            return kMidiNoMemory;
        case RtMidiError::INVALID_PARAMETER:
            return kMidiInvalidParameter;
        case RtMidiError::DRIVER_ERROR:
            return kMidiNoDevice;
        case RtMidiError::UNSPECIFIED:
        case RtMidiError::INVALID_USE:
        case RtMidiError::SYSTEM_ERROR:
        case RtMidiError::THREAD_ERROR:
            break;
    }
    return kMidiError;
}

void ErrorSink::Clear() {
    std::lock_guard lock(m_mutex);
    m_first.reset();
}

std::optional<RtMidiError::Type> ErrorSink::Take() {
    std::lock_guard lock(m_mutex);
    std::optional<RtMidiError::Type> first = m_first;
    m_first.reset();
    return first;
}

void ErrorSink::Callback(RtMidiError::Type type, const std::string&, void* user) {
    auto& self = *static_cast<ErrorSink*>(user);
    std::lock_guard lock(self.m_mutex);
    if (!self.m_first)
        self.m_first = type;
}

std::vector<MidiSystem> CompiledSystems() {
    std::vector<MidiSystem> systems;
    for (MidiSystem system :
         {MidiSystem::Alsa, MidiSystem::Jack, MidiSystem::CoreMidi, MidiSystem::WinMM}) {
        if (Compiled(system))
            systems.push_back(system);
    }
    return systems;
}

std::unique_ptr<RtMidiIn> MakeInput(MidiSystem system, const std::string& client, ErrorSink& sink) {
    return Make<RtMidiIn>(system, client, sink);
}

std::unique_ptr<RtMidiOut> MakeOutput(MidiSystem system, const std::string& client,
                                      ErrorSink& sink) {
    return Make<RtMidiOut>(system, client, sink);
}

void KeepForever(RtMidi* midi) {
    static std::mutex mutex;
    // Never freed, and reachable, so that no leak checker takes it for lost.
    static auto* kept = new std::vector<RtMidi*>;
    std::lock_guard lock(mutex);
    kept->push_back(midi);
}

std::size_t MaxMessageSize(MidiSystem system) {
    // RtMidi's JACK output goes through a ring buffer of 16384 bytes, which holds at most one byte
    // less, and a 4-byte length goes before each message.
    if (system == MidiSystem::Jack)
        return 16383 - 4;
    return std::numeric_limits<std::size_t>::max();
}

}  // namespace zav::platform::rtmidi
