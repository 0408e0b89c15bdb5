#pragma once

#include <string>
#include <string_view>

#include "platform/midi/MidiService.h"

namespace zav::platform {

// The MIDI systems that RtMidi reaches.
enum class MidiSystem { Alsa, Jack, CoreMidi, WinMM };

std::string_view MidiSystemName(MidiSystem system);

// The name a user knows a port by, from the name that the system lists it under, such that a
// device's input and its output come out the same:
//   ALSA      "client:port 20:0"    -> "port" (the sequencer port's own name)
//   JACK      "client:port"         -> "port" (the short name), with the direction words that
//                                      a2jmidid puts in its bridge ports, " (capture)" and
//                                      " (playback)", left out
//   WinMM     "name 3"              -> "name" (without the number that RtMidi appends)
//   CoreMIDI  as listed
std::string DisplayPortName(MidiSystem system, std::string_view listed);

// The capability record of a port named `utf8`: the name as wide characters, cut at 31; bytes
// that are not UTF-8 become U+FFFD.
MidiCaps CapsFromName(std::string_view utf8);

}  // namespace zav::platform
