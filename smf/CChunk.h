#pragma once

#include <cstdint>

// One chunk of a Standard MIDI File: an 8-byte header (id, body length) and a body. The header is
// handled here; the body operations belong to the concrete chunk.
class CChunk {
public:
    CChunk() = default;
    explicit CChunk(std::uint32_t chunkId) : m_chunkId(chunkId) {}
    virtual ~CChunk() = default;

    // Size in bytes of the body that WriteData writes.
    virtual std::uint32_t GetDataSize() const = 0;
    // Resets the body's content; m_chunkId is left alone.
    virtual void Clear() = 0;
    // Reads the id and body length from the first 8 of size bytes and checks that the body fits.
    // A nonzero m_chunkId must match the id read; a zero m_chunkId adopts it, even when the length
    // check then fails.
    virtual bool ReadChunkHeader(const std::uint8_t* data, std::uint32_t size,
                                 std::uint32_t& dataSize);
    // Parses a body of exactly size bytes.
    virtual bool ReadData(const std::uint8_t* data, std::uint32_t size) = 0;
    // Writes the id and GetDataSize() into dst[0..7].
    virtual bool WriteChunkHeader(std::uint8_t* dst) const;
    // Writes the body (GetDataSize() bytes) at dst and sets written to its size.
    virtual bool WriteData(std::uint8_t* dst, std::uint32_t& written) const = 0;

    // The four id bytes read big-endian ("MThd" is 0x4D546864); 0 accepts any id.
    std::uint32_t m_chunkId = 0;

protected:
    CChunk(const CChunk&) = default;
    CChunk& operator=(const CChunk&) = default;
};

// Reads one whole chunk (header, then body) through the chunk's own operations. consumed is 8 once
// the header is read, and 8 + the body length when the chunk is read whole.
bool ReadChunk(CChunk& chunk, const std::uint8_t* data, std::uint32_t size,
               std::uint32_t& consumed);
