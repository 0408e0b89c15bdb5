#include "platform/midi/rtmidi/RtMidiSupport.h"

namespace zav::platform::rtmidi {

// Built where RtMidi runs without JACK: the other systems write nothing of their own and have no
// server to lose.
void QuietSystemMessages() {}

class ServerWatch::Impl {};

ServerWatch::ServerWatch(MidiSystem, const std::string&) {}
ServerWatch::~ServerWatch() = default;

bool ServerWatch::Watching() const {
    return false;
}

bool ServerWatch::Lost() const {
    return false;
}

// The other systems have the message once RtMidi's send returns.
void ServerWatch::WaitUntilPassed(unsigned) const {}

}  // namespace zav::platform::rtmidi
