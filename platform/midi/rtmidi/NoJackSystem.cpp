#include "platform/midi/rtmidi/RtMidiSupport.h"

namespace zav::platform::rtmidi {

// Built where RtMidi runs without JACK: the other systems write nothing of their own.
void QuietSystemMessages() {}

}  // namespace zav::platform::rtmidi
