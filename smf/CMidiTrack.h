#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "smf/CChunk.h"
#include "smf/MidiEvent.h"

// A track chunk ("MTrk"): its events in order, each with its absolute tick.
class CMidiTrack : public CChunk {
public:
    static constexpr std::uint32_t kChunkId = 0x4D54726B;  // "MTrk"

    CMidiTrack() : CChunk(kChunkId) {}
    ~CMidiTrack() override;
    CMidiTrack(const CMidiTrack&) = delete;
    CMidiTrack& operator=(const CMidiTrack&) = delete;

    // Size of the body that WriteData writes, closing end-of-track event included.
    std::uint32_t GetDataSize() const override;
    void Clear() override;
    // Parses a track body and appends its events. End-of-track events are not stored; parsing goes
    // on to the end of the body. On failure the events parsed before it stay.
    bool ReadData(const std::uint8_t* data, std::uint32_t size) override;
    // Writes the events in m_events order (ticks expected non-decreasing), without running status,
    // every SysEx as an F0 event, then end of track at delta 0.
    bool WriteData(std::uint8_t* dst, std::uint32_t& written) const override;
    // Appends an event and takes ownership of it; its tick is not checked. A null event is ignored.
    virtual void AddEvent(std::unique_ptr<MidiEvent> event);

    std::vector<std::unique_ptr<MidiEvent>> m_events;
};

// Parses one event (delta time included) from the left bytes at data, never reading past them.
// Returns the event with its tick (lastTick + delta, wrapping) and sets taken to the bytes it
// spans; returns null when the event is malformed or would run past left.
std::unique_ptr<MidiEvent> ParseEvent(const std::uint8_t* data, std::uint32_t left,
                                      std::uint32_t lastTick, std::uint8_t runningStatus,
                                      std::uint32_t& taken);
