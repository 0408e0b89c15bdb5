#pragma once

#include <cstdint>
#include <span>

namespace zav::fw {

// The firmware file that the program plays to the device, embedded at build time: the test image,
// or the Standard MIDI File named when the build was configured. The bytes live for the whole run
// of the program.
std::span<const std::uint8_t> EmbeddedFirmwareImage();

}  // namespace zav::fw
