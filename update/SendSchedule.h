#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class CSMF;

// The plan of one update: when each SysEx message of a firmware image falls due, in milliseconds
// after the start of sending. Pure: no clock, no port.

// One Set Tempo event of the first track.
struct TempoPoint {
    std::uint32_t tick = 0;
    // Whole beats per minute: 60,000,000 / (µs per quarter note), truncated. Never 0 in a map that
    // BuildTempoMap made: three bytes of tempo give at most 16,777,215 µs, that is 3 bpm.
    std::uint32_t bpm = 0;
};

// In event order, and so in non-decreasing tick order. A deque: appending never moves a point.
using TempoMap = std::deque<TempoPoint>;

struct ScheduledMessage {
    std::uint32_t timeMs = 0;
    // The event's bytes as the reader holds them: an F0-form event as the complete message, F0
    // through F7; an F7-form event as its stored bytes alone.
    std::vector<std::uint8_t> bytes;
    // The event's tick, for people reading a schedule; sending does not use it.
    std::uint32_t tick = 0;
};

// Every SysEx event of every track: tracks in file order, events in file order. Neither merged nor
// sorted by time: it is sent in this order.
using SendSchedule = std::deque<ScheduledMessage>;

// The due time of tick: the tempo points walked from the last back to the first, skipping those at
// or after tick; each governs from its own tick to the next point's tick (or to tick), as
// (60000.0 / bpm) / division ms per tick, each segment rounded to the nearest millisecond by
// itself, the segments summed modulo 2^32. Ticks before the first point count for nothing, and an
// empty map puts every tick at 0.
//
// A point of 0 bpm or a division of 0 (neither comes from BuildTempoMap and a loaded document)
// adds no time instead of dividing by zero.
std::uint32_t TickToMilliseconds(std::uint32_t tick, const TempoMap& map, std::uint16_t division);

namespace zav::engine {

// The Set Tempo events of the first track (other tracks' tempos are not taken); an empty map when
// there are none or no track at all.
//
// Refuses the document (nothing) when a Set Tempo event has fewer than three data bytes or a tempo
// of 0: such an event leaves the pacing of the update undefined, and the device depends on that
// pacing (the pause after the erase above all), so the image is refused before anything is sent
// rather than played at a guessed speed. Bytes after the third are ignored.
std::optional<TempoMap> BuildTempoMap(const CSMF& smf);

// The schedule of every SysEx event of the document, due times by TickToMilliseconds at the
// document's division. A SysEx event without any data byte (possible in the F7 form only) is left
// out: it carries nothing to the wire, and the MIDI service refuses an empty message, which would
// end the update half-way.
SendSchedule BuildSendSchedule(const CSMF& smf, const TempoMap& map);

}  // namespace zav::engine
