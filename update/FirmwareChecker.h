#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "update/FirmwareMessages.h"

namespace zav::fw {

enum class FaultKind {
    Framing,          // frame, command byte, tag or size wrong, or not a firmware message at all
    LengthField,      // a data block's length field does not count its bytes
    CheckByte,        // a data block's check byte is wrong
    BlockNumber,      // a data block out of sequence
    Order,            // not erase, then blocks, then checksum
    AfterChecksum,    // anything at all after the checksum message
    MissingChecksum,  // the update ended without a checksum message
};

std::string_view FaultName(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::Framing;
    // Index of the message in the order fed, from 0; for MissingChecksum the number of messages.
    std::size_t index = 0;
    std::optional<std::uint16_t> block;
    // Whatever the caller passed with the message: a tick, an arrival time.
    std::uint64_t position = 0;
    std::string detail;
};

// "message 12 (block 9) at 16543: check byte 1A, expected 2B"
std::string Describe(const Fault& fault);

// Checks the messages of one update, fed in the order they are sent or received: each message
// whole, erase first, then data blocks numbered 0, 1, 2 ..., then one checksum message, then
// nothing. Every fault is recorded; checking goes on after a fault, re-synchronising the block
// numbering on the block that was received so that one lost block is one fault.
class FirmwareChecker {
public:
    // Returns the message's classification; its data span points into `message`.
    MessageInfo Feed(std::span<const std::uint8_t> message, std::uint64_t position);
    // The update is over: records a missing checksum. Later calls add nothing.
    void Finish();

    const std::vector<Fault>& Faults() const { return m_faults; }
    bool Clean() const { return m_faults.empty(); }
    std::size_t MessageCount() const { return m_messages; }
    std::size_t BlockCount() const { return m_blocks; }
    bool EraseSeen() const { return m_eraseSeen; }
    bool ChecksumSeen() const { return m_checksumSeen; }

private:
    void Add(FaultKind kind, std::optional<std::uint16_t> block, std::uint64_t position,
             std::string detail);
    void CheckOrder(const MessageInfo& info, std::uint64_t position);

    std::vector<Fault> m_faults;
    std::size_t m_messages = 0;
    std::size_t m_blocks = 0;
    std::uint32_t m_nextBlock = 0;
    std::uint64_t m_lastPosition = 0;
    bool m_eraseSeen = false;
    // A missing erase is one fault, not one for every message that follows.
    bool m_eraseMissing = false;
    bool m_checksumSeen = false;
    bool m_finished = false;
};

}  // namespace zav::fw
