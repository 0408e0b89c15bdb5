#pragma once

#include <cstdint>
#include <string>

#include "platform/clock/VirtualClock.h"
#include "platform/midi/virtual/VirtualMidiBus.h"
#include "tests/support/Bytes.h"

namespace zav::test {

// A virtual clock and a virtual bus, both installed for the life of a test.
struct MidiBench {
    static constexpr std::int64_t kCalendarStart = 1'700'000'000;

    platform::VirtualClock clock{0, kCalendarStart};
    platform::ScopedClock installedClock{clock};
    platform::VirtualMidiBus bus{clock};
    platform::ScopedMidiBackend installedBus{bus};
};

// A device status message: F0 43 7D, command, "DTA", status character, F7.
inline Bytes StatusMessage(std::uint8_t status, std::uint8_t command = 0x60) {
    return Concat({FromHex("F0 43 7D"), {command}, Ascii("DTA"), {status}, FromHex("F7")});
}

}  // namespace zav::test
