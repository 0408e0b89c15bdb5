#pragma once

#include <cstdint>
#include <memory>
#include <span>

enum class MidiEventKind : std::uint8_t {
    Channel = 1,
    SysEx = 2,
    Meta = 3,
};

// One event of a track, with its absolute tick. Every field starts at zero (kind included).
//
// status: channel message: the status byte with its channel; meta event: the meta type; SysEx: 0.
// data:   channel message: its data bytes; meta event: its data; SysEx from an F0 event: F0 and the
//         declared bytes (a complete message, ready to send); SysEx from an F7 event: the declared
//         bytes alone.
// length is the only record of how many bytes data holds.
struct MidiEvent {
    std::uint8_t status = 0;
    std::uint32_t length = 0;
    std::unique_ptr<std::uint8_t[]> data;
    MidiEventKind kind{};
    std::uint32_t tick = 0;

    std::span<const std::uint8_t> Bytes() const { return {data.get(), length}; }
    // Replaces data and length with a copy of bytes.
    void SetBytes(std::span<const std::uint8_t> bytes);
};
