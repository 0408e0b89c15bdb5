#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "smf/CMidiHeader.h"
#include "smf/CMidiTrack.h"
#include "smf/MidiEvent.h"

// A Standard MIDI File (format 0 or 1) held in memory: the header and the tracks in file order.
class CSMF {
public:
    CSMF() = default;
    virtual ~CSMF();
    CSMF(const CSMF&) = delete;
    CSMF& operator=(const CSMF&) = delete;

    // Parses a whole file of size bytes and, on success, adds the bytes read to consumed (bytes
    // after the last declared track are not read). Tracks are appended after any already held.
    // On failure the document is left empty and consumed is meaningless.
    virtual bool Load(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed);
    // Writes the whole file, GetFileSize() bytes, at dst and adds that size to counter.
    virtual bool Write(std::uint8_t* dst, std::uint32_t& counter) const;
    // Removes every track, zeroes the header fields and its id.
    virtual void Clear();
    // Orders each track's events with EventPrecedes, keeping the order of equal events.
    virtual void SortEvents();
    virtual std::uint32_t GetFileSize() const;

    CMidiHeader m_header;
    std::vector<std::unique_ptr<CMidiTrack>> m_tracks;

private:
    // Reads count track chunks back to back; taken gets the bytes they span.
    bool LoadTracks(std::uint16_t count, const std::uint8_t* data, std::uint32_t size,
                    std::uint32_t& taken);
    void DeleteTracks();
    // Writes every track chunk in order from dst; returns the bytes written.
    std::uint32_t WriteTracks(std::uint8_t* dst) const;
};

// Event order: by tick; within a tick, sequencer-specific meta events whose data begins 43 7B 02
// come before all others. A strict weak order, so two such events keep their order when sorted.
bool EventPrecedes(const MidiEvent& a, const MidiEvent& b);
