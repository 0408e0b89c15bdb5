#pragma once

#include <cstdint>

#include "smf/CChunk.h"

// The header chunk ("MThd"): format, track count and division, stored as read. Their values are
// checked by CSMF::Load and interpreted by the update engine.
class CMidiHeader : public CChunk {
public:
    static constexpr std::uint32_t kChunkId = 0x4D546864;  // "MThd"

    CMidiHeader() : CChunk(kChunkId) {}
    ~CMidiHeader() override;
    CMidiHeader(const CMidiHeader&) = default;
    CMidiHeader& operator=(const CMidiHeader&) = default;

    std::uint32_t GetDataSize() const override { return 6; }
    void Clear() override;
    // Reads the three fields in order; a short body fails with the fields before the gap set.
    // Bytes after the sixth are ignored.
    bool ReadData(const std::uint8_t* data, std::uint32_t size) override;
    bool WriteData(std::uint8_t* dst, std::uint32_t& written) const override;

    std::uint16_t m_format = 0;
    std::uint16_t m_trackCount = 0;
    std::uint16_t m_division = 0;
};
