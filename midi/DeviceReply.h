#pragma once

#include <cstdint>

// How the device link reads the device's unasked status messages, as plain functions: the
// filter, and the heard state that status messages and silence move.

// The status character of a status message as the link accepts it: at least 9 bytes, F0 43 7D,
// a command byte 6x, "DTA", then a character other than 0. 0 for any other message.
char ReadStatusCharacter(const std::uint8_t* bytes, std::uint32_t length);

// Seconds of silence after the last status message that end the heard state.
inline constexpr std::int64_t kSilenceSeconds = 3;

// lastHeard: calendar seconds of the last "0" or "1", 0 when silent. heardStatus: the character
// that began the current heard period, 0 for none; it may outlive lastHeard.
struct HeardState {
    std::int64_t lastHeard = 0;
    char heardStatus = 0;

    bool operator==(const HeardState&) const = default;
};

// An accepted status character c at calendar second now. A character other than the one that
// began the heard period ends it; "0" and "1" then mark the device heard at now, and begin a new
// period when none runs. Any other character marks nothing.
HeardState ApplyStatusCharacter(HeardState state, char c, std::int64_t now);

// The silence check at calendar second now: heard state over once now is kSilenceSeconds or more
// past lastHeard. A clock set back (now before lastHeard) ends nothing.
HeardState ApplySilenceCheck(HeardState state, std::int64_t now);
