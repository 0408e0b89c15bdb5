#include "tests/smf/SmfFixtures.h"

#include <cstdio>

namespace zav::test {

std::string Describe(const MidiEvent& event) {
    const char* kind = event.kind == MidiEventKind::Channel ? "Channel"
                       : event.kind == MidiEventKind::SysEx ? "SysEx"
                       : event.kind == MidiEventKind::Meta  ? "Meta"
                                                            : "None";
    char head[48];
    std::snprintf(head, sizeof head, "%s %02X @%u [", kind, event.status,
                  static_cast<unsigned>(event.tick));
    return head + ToHex(event.Bytes()) + "]";
}

std::vector<std::string> Describe(const CMidiTrack& track) {
    std::vector<std::string> out;
    for (const auto& event : track.m_events)
        out.push_back(Describe(*event));
    return out;
}

std::unique_ptr<MidiEvent> MakeEvent(MidiEventKind kind, std::uint8_t status, std::uint32_t tick,
                                     const Bytes& data) {
    auto event = std::make_unique<MidiEvent>();
    event->kind = kind;
    event->status = status;
    event->tick = tick;
    event->SetBytes(data);
    return event;
}

namespace {
Bytes BigEndian(std::uint32_t value, int bytes) {
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}
}  // namespace

Bytes HeaderChunk(std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
    return Concat({Ascii("MThd"), BigEndian(6, 4), BigEndian(format, 2), BigEndian(tracks, 2),
                   BigEndian(division, 2)});
}

Bytes Chunk(std::string_view id, const Bytes& body) {
    return Concat({Ascii(id), BigEndian(static_cast<std::uint32_t>(body.size()), 4), body});
}

Bytes TrackChunk(const Bytes& body) {
    return Chunk("MTrk", body);
}

}  // namespace zav::test
