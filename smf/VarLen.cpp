#include "smf/VarLen.h"

bool ReadVarLen(const std::uint8_t* data, std::uint32_t left, std::uint32_t& value,
                std::uint32_t& read) {
    std::uint32_t v = 0;
    for (std::uint32_t i = 0; i < left; ++i) {
        const std::uint8_t b = data[i];
        v = (v << 7) | (b & 0x7Fu);
        if ((b & 0x80) == 0) {
            value = v;
            read = i + 1;
            return true;
        }
    }
    return false;
}

std::uint32_t VarLenSize(std::uint32_t value) {
    std::uint32_t width = 1;
    while (value >>= 7)
        ++width;
    return width;
}

void WriteVarLen(std::uint32_t value, std::uint32_t width, std::uint8_t* dst) {
    for (std::uint32_t i = 0; i < width; ++i) {
        const std::uint32_t shift = 7 * (width - 1 - i);
        // Shifts of 32 or more leave no bits of a 32-bit value.
        const std::uint32_t group = shift < 32 ? (value >> shift) & 0x7Fu : 0;
        dst[i] = static_cast<std::uint8_t>(group | (i + 1 < width ? 0x80u : 0u));
    }
}
