#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/Bytes.h"

namespace zav::test {

// A whole Standard MIDI File: format 0 for one track, 1 for more, the division as given, and each
// track body closed with its end-of-track event.
Bytes SmfFile(std::uint16_t division, const std::vector<Bytes>& trackBodies);

// A variable-length quantity, as delta times and event lengths are written: 480 -> 83 60.
Bytes VarLen(std::uint32_t value);

}  // namespace zav::test
