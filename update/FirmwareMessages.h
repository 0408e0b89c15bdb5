#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// Wire format of the firmware messages (system to device) and of the device's status message
// (device to system). Every message is a SysEx message F0 43 7D <command> ... F7.
namespace zav::fw {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kSysExStart = 0xF0;
inline constexpr std::uint8_t kSysExEnd = 0xF7;
inline constexpr std::uint8_t kManufacturerId = 0x43;
inline constexpr std::uint8_t kSubId = 0x7D;

inline constexpr std::uint8_t kEraseCommand = 0x30;
inline constexpr std::uint8_t kDataBlockCommand = 0x40;
inline constexpr std::uint8_t kChecksumCommand = 0x70;
// Status messages use 60 to 6F; only the high nibble is significant.
inline constexpr std::uint8_t kStatusCommand = 0x60;

inline constexpr std::string_view kEraseTag = "DTA1ERASE";
inline constexpr std::string_view kDataBlockTag = "DTA1MAIN";
inline constexpr std::string_view kChecksumTag = "DTA1CSUM";
inline constexpr std::string_view kStatusTag = "DTA";

inline constexpr std::size_t kEraseMessageSize = 15;
inline constexpr std::size_t kChecksumMessageSize = 14;
// A data block is its data bytes plus this many bytes of frame, length, tag, number and check byte.
inline constexpr std::size_t kDataBlockOverhead = 18;
inline constexpr std::size_t kStatusMinSize = 9;

// Offsets inside a data block.
inline constexpr std::size_t kLengthOffset = 4;
inline constexpr std::size_t kBlockTagOffset = 6;
inline constexpr std::size_t kBlockNumberOffset = 14;
inline constexpr std::size_t kBlockDataOffset = 16;

// Fields of two 7-bit bytes hold at most 14 bits.
inline constexpr std::uint16_t kMax14Bit = 0x3FFF;
// The length field counts the tag, the block number and the data: N + 10.
inline constexpr std::size_t kLengthFieldExtra = 10;
inline constexpr std::size_t kMaxBlockData = kMax14Bit - kLengthFieldExtra;

// The byte that makes the sum of `span` plus itself a multiple of 128.
std::uint8_t CheckByte(std::span<const std::uint8_t> span);

// Builders. Every argument must fit the wire: 7-bit data bytes, a block number of at most 14 bits,
// at most kMaxBlockData data bytes; otherwise std::invalid_argument is thrown.
Bytes MakeEraseMessage(std::uint8_t data);
Bytes MakeDataBlockMessage(std::uint16_t block, std::span<const std::uint8_t> data);
Bytes MakeChecksumMessage(std::uint8_t data);
// F0 43 7D <command> "DTA" <status> <rest...> F7; command must be 60 to 6F.
Bytes MakeStatusMessage(std::uint8_t status, std::span<const std::uint8_t> rest = {},
                        std::uint8_t command = kStatusCommand);

enum class MessageKind { Erase, DataBlock, Checksum, Status, Other };

std::string_view KindName(MessageKind kind);

// What one message is, told from its frame start and the high nibble of its command byte, and
// whether the rest of it is as the wire format requires.
struct MessageInfo {
    MessageKind kind = MessageKind::Other;
    // Frame start and end, exact command byte, tag, size, and 7-bit bytes in between.
    bool framingOk = false;
    // Data blocks only: the length field equals N + 10.
    bool lengthOk = true;
    // Data blocks only: the check byte is right.
    bool checkOk = true;
    // Data blocks: the block number. Absent for other kinds or a block too short to hold one.
    std::optional<std::uint16_t> block;
    // Data blocks: the length field as stored, and the check byte stored and the one expected.
    std::uint16_t lengthField = 0;
    std::uint8_t storedCheck = 0;
    std::uint8_t expectedCheck = 0;
    // The payload inside the message that was classified: a data block's N data bytes, the one
    // data byte of an erase or checksum message, the status character of a status message.
    std::span<const std::uint8_t> data;

    bool Ok() const { return framingOk && lengthOk && checkOk; }
};

// The span in the result points into `message`.
MessageInfo ClassifyMessage(std::span<const std::uint8_t> message);

}  // namespace zav::fw
