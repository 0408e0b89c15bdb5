#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct ChannelMessageType {
    std::uint8_t statusNibble;  // high nibble of the status byte, e.g. 0x90
    std::uint8_t dataBytes;
};

// Searched in this order by the high nibble of a byte, first match.
inline constexpr std::array<ChannelMessageType, 7> ChannelMessageTable{{
    {0x80, 2},  // note off
    {0x90, 2},  // note on
    {0xA0, 2},  // polyphonic key pressure
    {0xB0, 2},  // control change
    {0xC0, 1},  // program change
    {0xD0, 1},  // channel pressure
    {0xE0, 2},  // pitch bend
}};

// The meta-event types of a Standard MIDI File; a type is known by its position here.
inline constexpr std::array<std::uint8_t, 15> MetaTypeTable{
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x20, 0x2F, 0x51, 0x54, 0x58, 0x59, 0x7F,
};

namespace zav::smf {

// Positions in MetaTypeTable that the program acts on.
inline constexpr std::size_t kMetaEndOfTrack = 9;          // 2F
inline constexpr std::size_t kMetaSetTempo = 10;           // 51, 3 bytes of µs per quarter note
inline constexpr std::size_t kMetaSequencerSpecific = 14;  // 7F
inline constexpr std::size_t kMetaUnlisted = MetaTypeTable.size();

// Position of a meta type in MetaTypeTable, or kMetaUnlisted.
constexpr std::size_t MetaTypePosition(std::uint8_t type) {
    for (std::size_t i = 0; i < MetaTypeTable.size(); ++i) {
        if (MetaTypeTable[i] == type)
            return i;
    }
    return kMetaUnlisted;
}

// Data-byte count of the channel message whose status byte is b, or 0 when b's high nibble is not
// in ChannelMessageTable (no entry has 0 data bytes).
constexpr std::uint8_t ChannelDataBytes(std::uint8_t b) {
    for (const ChannelMessageType& type : ChannelMessageTable) {
        if (type.statusNibble == (b & 0xF0))
            return type.dataBytes;
    }
    return 0;
}

}  // namespace zav::smf
