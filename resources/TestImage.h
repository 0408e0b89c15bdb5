#pragma once

#include <cstdint>
#include <span>

namespace zav::fw {

// The synthetic test image, embedded at build time: a Standard MIDI File with the layout of a
// firmware image. The bytes live for the whole run of the program.
std::span<const std::uint8_t> TestImage();

}  // namespace zav::fw
