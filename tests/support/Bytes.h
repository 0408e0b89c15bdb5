#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zav::test {

using Bytes = std::vector<std::uint8_t>;

// "F0 43 7D" -> {0xF0, 0x43, 0x7D}; blanks are ignored. Throws std::invalid_argument on a bad digit.
Bytes FromHex(std::string_view hex);

// {0xF0, 0x43} -> "F0 43", for readable failure messages.
std::string ToHex(std::span<const std::uint8_t> bytes);

// Joins fixture pieces: Concat({header, track}).
Bytes Concat(std::initializer_list<Bytes> parts);

// The bytes of an ASCII text, without a terminator.
Bytes Ascii(std::string_view text);

}  // namespace zav::test
