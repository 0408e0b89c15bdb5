#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "update/FirmwareChecker.h"

namespace zav::emulator {

// One message as the device received it, with its arrival on the device's millisecond clock.
struct ReceivedMessage {
    std::uint32_t arrivalMs = 0;
    std::vector<std::uint8_t> bytes;
};

// One message that the sender meant to send, due `dueMs` after the start of sending.
struct ExpectedMessage {
    std::uint32_t dueMs = 0;
    std::vector<std::uint8_t> bytes;
};

// What the sender meant to send, for judging what arrived. Without an origin (the start of sending
// on the device's clock), the first message that arrived is taken as on time.
struct Schedule {
    std::vector<ExpectedMessage> messages;
    std::optional<std::uint32_t> originMs;
};

// Arrival minus due time, over the scheduled messages that arrived, in ms; negative is early.
// Percentiles are nearest-rank.
struct Lateness {
    std::size_t matched = 0;
    std::int64_t min = 0;
    std::int64_t p50 = 0;
    std::int64_t p99 = 0;
    std::int64_t max = 0;
    std::size_t early = 0;
};

struct UpdateReport {
    std::size_t messagesReceived = 0;
    std::size_t blocksReceived = 0;
    bool eraseReceived = false;
    bool checksumReceived = false;
    // Every fault of the checker, positions being arrival times in ms; a missing checksum is
    // among them while none has arrived.
    std::vector<fw::Fault> faults;
    // FNV-1a of the data bytes of every data block, in arrival order, as 16 hex digits.
    std::string digest;

    // Present when a schedule was given.
    std::optional<Lateness> lateness;
    // Indices into the schedule of the messages that never arrived.
    std::vector<std::size_t> missing;
    // Received messages that match no scheduled one.
    std::size_t unscheduled = 0;

    bool Clean() const { return faults.empty() && missing.empty() && unscheduled == 0; }
};

// Matches received messages to scheduled ones by content, in order: a scheduled message matches
// the next received message equal to it, so a lost or repeated message does not shift the rest.
void JudgeAgainstSchedule(std::span<const ReceivedMessage> received, const Schedule& schedule,
                          UpdateReport& report);

// A few lines for people: counts, digest, faults, lateness, missing messages.
std::string FormatReport(const UpdateReport& report);

}  // namespace zav::emulator
