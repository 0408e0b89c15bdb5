#include "emulator/Digest.h"

#include <cstdio>

namespace zav::emulator {

void Fnv1a64::Add(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        m_hash ^= b;
        m_hash *= 0x100000001B3ull;
    }
}

std::string Fnv1a64::Hex() const {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(m_hash));
    return buf;
}

}  // namespace zav::emulator
