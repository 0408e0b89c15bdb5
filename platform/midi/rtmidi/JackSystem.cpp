#include <jack/jack.h>

#include "platform/midi/rtmidi/RtMidiSupport.h"

namespace zav::platform::rtmidi {

namespace {
void Drop(const char*) {}
}  // namespace

void QuietSystemMessages() {
    // libjack writes a few lines to standard error at every failed attempt to reach a server,
    // and the service asks again at every listing while none runs; failures reach the program
    // as result codes instead.
    jack_set_error_function(&Drop);
    jack_set_info_function(&Drop);
}

}  // namespace zav::platform::rtmidi
