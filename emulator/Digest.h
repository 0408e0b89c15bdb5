#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zav::emulator {

// 64-bit FNV-1a: a stable digest of a byte stream, the same on every platform, so that what a
// device received can be compared with what an image holds.
class Fnv1a64 {
public:
    void Add(std::span<const std::uint8_t> bytes);
    std::uint64_t Value() const { return m_hash; }
    // 16 lower-case hex digits.
    std::string Hex() const;

private:
    std::uint64_t m_hash = 0xCBF29CE484222325ull;
};

}  // namespace zav::emulator
