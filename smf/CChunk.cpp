#include "smf/CChunk.h"

#include "smf/BigEndian.h"

bool CChunk::ReadChunkHeader(const std::uint8_t* data, std::uint32_t size,
                             std::uint32_t& dataSize) {
    if (size < 8)
        return false;
    const std::uint32_t id = zav::smf::ReadBE32(data);
    if (m_chunkId != 0 && m_chunkId != id)
        return false;
    m_chunkId = id;
    const std::uint32_t length = zav::smf::ReadBE32(data + 4);
    if (length > size - 8)
        return false;
    dataSize = length;
    return true;
}

bool CChunk::WriteChunkHeader(std::uint8_t* dst) const {
    zav::smf::WriteBE32(m_chunkId, dst);
    zav::smf::WriteBE32(GetDataSize(), dst + 4);
    return true;
}

bool ReadChunk(CChunk& chunk, const std::uint8_t* data, std::uint32_t size,
               std::uint32_t& consumed) {
    consumed = 0;
    std::uint32_t length = 0;
    if (!chunk.ReadChunkHeader(data, size, length))
        return false;
    consumed += 8;
    if (!chunk.ReadData(data + 8, length))
        return false;
    consumed += length;
    return true;
}
