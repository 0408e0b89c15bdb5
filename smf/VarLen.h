#pragma once

#include <cstdint>

// Variable-length quantities: 7 bits a byte, most significant group first, bit 7 set on every
// byte but the last.

// Reads one quantity from at most left bytes. Any number of bytes is accepted; the value is kept
// in 32 bits, so groups above bit 31 are shifted out. Fails, reading nothing past left, when the
// quantity does not end within left bytes.
bool ReadVarLen(const std::uint8_t* data, std::uint32_t left, std::uint32_t& value,
                std::uint32_t& read);

// Number of 7-bit groups that value needs: 1 to 5 (1 for 0).
std::uint32_t VarLenSize(std::uint32_t value);

// Writes exactly width bytes (1 to 5). Five bytes are written for values of 2^28 and above: longer
// than the four that a standard reader takes, but ReadVarLen gives the same 32-bit value back.
void WriteVarLen(std::uint32_t value, std::uint32_t width, std::uint8_t* dst);
