#include "smf/CMidiHeader.h"

#include "smf/BigEndian.h"

CMidiHeader::~CMidiHeader() {
    CMidiHeader::Clear();
    m_chunkId = 0;
}

void CMidiHeader::Clear() {
    m_format = 0;
    m_trackCount = 0;
    m_division = 0;
}

bool CMidiHeader::ReadData(const std::uint8_t* data, std::uint32_t size) {
    if (size < 2)
        return false;
    m_format = zav::smf::ReadBE16(data);
    if (size - 2 < 2)
        return false;
    m_trackCount = zav::smf::ReadBE16(data + 2);
    if (size - 4 < 2)
        return false;
    m_division = zav::smf::ReadBE16(data + 4);
    return true;
}

bool CMidiHeader::WriteData(std::uint8_t* dst, std::uint32_t& written) const {
    zav::smf::WriteBE16(m_format, dst);
    zav::smf::WriteBE16(m_trackCount, dst + 2);
    zav::smf::WriteBE16(m_division, dst + 4);
    written = 6;
    return true;
}
