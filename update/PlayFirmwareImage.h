#pragma once

#include <cstdint>

class IUpdateProgress;

// Plays a firmware image to the device: loads the Standard MIDI File, schedules every SysEx event
// by the first track's tempo and the file's division (update/SendSchedule.h), then sends each
// message through the process-wide MidiPorts (made first when there is none) once it is due,
// counted on the process-wide millisecond clock from the moment sending starts. After each
// message handed over, progress (when not null) is told the percentage sent, when it changed.
//
// True when the image loaded and every message was handed over; false when the image does not
// load, its tempo is unusable (nothing is sent then), a send fails, or progress says before a
// message that sending cannot go on: that message is not reported and nothing after it is sent.
// No port is opened or closed; with no output port open every send succeeds without sending.
// Waits for nothing from the device. Reads the image only while loading it. Throws nothing and
// shows nothing.
bool PlayFirmwareImage(const std::uint8_t* image, std::uint32_t size, IUpdateProgress* progress);
