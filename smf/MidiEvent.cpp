#include "smf/MidiEvent.h"

#include <algorithm>

void MidiEvent::SetBytes(std::span<const std::uint8_t> bytes) {
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    data = std::move(copy);
    length = static_cast<std::uint32_t>(bytes.size());
}
