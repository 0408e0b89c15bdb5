#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "smf/CMidiTrack.h"
#include "smf/MidiEvent.h"
#include "tests/support/Bytes.h"

namespace zav::test {

// "Channel 90 @16 [3C 40]": one line per event, so that a mismatch shows the whole record.
std::string Describe(const MidiEvent& event);
std::vector<std::string> Describe(const CMidiTrack& track);

std::unique_ptr<MidiEvent> MakeEvent(MidiEventKind kind, std::uint8_t status, std::uint32_t tick,
                                     const Bytes& data);

// "MThd", length 6 and the three fields.
Bytes HeaderChunk(std::uint16_t format, std::uint16_t tracks, std::uint16_t division);
// A chunk with the given four-letter id around body; TrackChunk uses "MTrk".
Bytes Chunk(std::string_view id, const Bytes& body);
Bytes TrackChunk(const Bytes& body);

}  // namespace zav::test
