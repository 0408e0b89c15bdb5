#pragma once

// What the backend and the device ports share of RtMidi. This folder is the only place that
// includes RtMidi.h.

#include <RtMidi.h>

#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/PortNames.h"

namespace zav::platform::rtmidi {

// The code of an RtMidi error; a warning gives `warning` (0: not a failure).
MidiResult CodeOf(RtMidiError::Type type, MidiResult warning);

// Takes the errors that an RtMidi object reports through its error callback, so that it throws
// none of them. The callback may come on any thread.
class ErrorSink {
public:
    void Install(RtMidi& midi) { midi.setErrorCallback(&Callback, this); }
    void Clear();
    // The first error since Clear, if any.
    std::optional<RtMidiError::Type> Take();

private:
    static void Callback(RtMidiError::Type type, const std::string& text, void* user);

    std::mutex m_mutex;
    std::optional<RtMidiError::Type> m_first;
};

// Runs f on an RtMidi object whose errors go to sink: the code of what it threw or reported first,
// 0 when nothing.
template <typename F>
MidiResult Guarded(ErrorSink& sink, MidiResult warning, F&& f) {
    sink.Clear();
    try {
        f();
    } catch (const RtMidiError& e) {
        return CodeOf(e.getType(), warning);
    } catch (const std::bad_alloc&) {
        return kMidiNoMemory;
    } catch (...) {
        return kMidiError;
    }
    if (std::optional<RtMidiError::Type> type = sink.Take())
        return CodeOf(*type, warning);
    return kMidiOk;
}

// The systems that this RtMidi was built with, in the order to try them: ALSA, JACK, CoreMIDI,
// WinMM.
std::vector<MidiSystem> CompiledSystems();

// An input or output on exactly that system, its errors going to sink from then on; nullptr when
// the system cannot be opened (or was not built in: RtMidi would quietly pick another).
std::unique_ptr<RtMidiIn> MakeInput(MidiSystem system, const std::string& client, ErrorSink& sink);
std::unique_ptr<RtMidiOut> MakeOutput(MidiSystem system, const std::string& client,
                                      ErrorSink& sink);

// Stops the systems' own libraries writing their complaints to standard error; process-wide.
void QuietSystemMessages();

// What RtMidi does not tell of a system with a server (JACK): whether the server is still there
// (RtMidi's clients go on listing the ports of a server that has gone, and a message sent to one
// waits, spinning, for room that never comes), and when a message handed over has left (RtMidi
// queues it for the server's next cycle; closing the port soon after can lose it). A client of
// its own learns of the server's end at once and counts its cycles.
class ServerWatch {
public:
    // Tries once to reach the server; a watch that did not is not watching.
    ServerWatch(MidiSystem system, const std::string& client);
    ~ServerWatch();
    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    bool Watching() const;
    // The server that it reached has gone. Any thread.
    bool Lost() const;
    // Waits until what was handed to RtMidi before the call has been through the server's
    // cycles, so that every reader had it; at once when not watching, at most `limitMs` when the
    // server stalls.
    void WaitUntilPassed(unsigned limitMs) const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// Keeps an RtMidi object, unused, for the rest of the process.
void KeepForever(RtMidi* midi);

// Destroys midi, its errors going to sink; but once the server it talks to has gone, keeps it:
// RtMidi's JACK objects then crash on their way out, in JACK's port and client calls.
template <typename Midi>
void Retire(std::unique_ptr<Midi>& midi, const ServerWatch& server, ErrorSink& sink) {
    if (!midi)
        return;
    if (server.Lost()) {
        KeepForever(midi.release());
        return;
    }
    Guarded(sink, kMidiOk, [&] { midi.reset(); });
}

// The most bytes that the system takes in one message; RtMidi drops a longer one unsaid.
std::size_t MaxMessageSize(MidiSystem system);

}  // namespace zav::platform::rtmidi
