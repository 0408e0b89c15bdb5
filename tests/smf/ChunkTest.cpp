#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "smf/CMidiHeader.h"
#include "smf/CMidiTrack.h"
#include "tests/smf/SmfFixtures.h"
#include "tests/support/Bytes.h"

namespace {

using zav::test::Ascii;
using zav::test::Bytes;
using zav::test::Concat;
using zav::test::FromHex;

constexpr std::uint32_t kUnset = 0xDEADBEEF;

struct ChunkHeaderCase {
    std::string reason;
    std::uint32_t expectedId;  // m_chunkId before the read
    Bytes bytes;
    bool ok;
    std::uint32_t idAfter;
    std::uint32_t dataSize;  // kUnset: left untouched
};

TEST(ChunkHeader, ReadsAndChecksIdAndLength) {
    const std::uint32_t mtrk = CMidiTrack::kChunkId;
    const std::uint32_t mthd = CMidiHeader::kChunkId;
    const ChunkHeaderCase cases[] = {
        {"seven bytes are refused before the id is read", 0, FromHex("4D 54 72 6B 00 00 00"), false,
         0, kUnset},
        {"empty body", mtrk, Concat({Ascii("MTrk"), FromHex("00 00 00 00")}), true, mtrk, 0},
        {"body length equal to what is left", mtrk,
         Concat({Ascii("MTrk"), FromHex("00 00 00 02 AA BB")}), true, mtrk, 2},
        {"body length one past what is left", mtrk,
         Concat({Ascii("MTrk"), FromHex("00 00 00 03 AA BB")}), false, mtrk, kUnset},
        {"a length near 2^32 does not wrap", mtrk,
         Concat({Ascii("MTrk"), FromHex("FF FF FF FF AA BB")}), false, mtrk, kUnset},
        {"another id than the one expected keeps the expected id", mtrk,
         Concat({Ascii("MThd"), FromHex("00 00 00 00")}), false, mtrk, kUnset},
        {"id 0 adopts any id", 0, Concat({Ascii("XYZW"), FromHex("00 00 00 01 00")}), true,
         0x58595A57, 1},
        {"id 0 adopts the id even when the length then fails", 0,
         Concat({Ascii("MThd"), FromHex("00 00 00 09 00 01")}), false, mthd, kUnset},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CMidiTrack chunk;
        chunk.m_chunkId = c.expectedId;
        std::uint32_t dataSize = kUnset;
        EXPECT_EQ(chunk.ReadChunkHeader(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size()),
                                        dataSize),
                  c.ok);
        EXPECT_EQ(chunk.m_chunkId, c.idAfter);
        EXPECT_EQ(dataSize, c.dataSize);
    }
}

struct HeaderReadCase {
    std::string reason;
    Bytes chunk;
    bool ok;
    std::uint32_t consumed;
    std::uint16_t format, trackCount, division;
};

// Fields start at 7, 7, 7 so that a field left unread shows.
TEST(ReadChunk, ReadsHeaderFieldsAndLeavesPartialReadsBehind) {
    const HeaderReadCase cases[] = {
        {"six-byte body", Concat({Ascii("MThd"), FromHex("00 00 00 06 00 01 00 02 01 E0")}), true,
         14, 1, 2, 480},
        {"eight-byte body is read from its first six",
         Concat({Ascii("MThd"), FromHex("00 00 00 08 00 01 00 02 01 E0 FF FF")}), true, 16, 1, 2,
         480},
        {"five-byte body sets format and track count only",
         Concat({Ascii("MThd"), FromHex("00 00 00 05 00 01 00 02 01")}), false, 8, 1, 2, 7},
        {"three-byte body sets the format only",
         Concat({Ascii("MThd"), FromHex("00 00 00 03 00 01 00")}), false, 8, 1, 7, 7},
        {"one-byte body sets nothing", Concat({Ascii("MThd"), FromHex("00 00 00 01 00")}), false, 8,
         7, 7, 7},
        {"chunk header refused: nothing consumed",
         Concat({Ascii("MTrk"), FromHex("00 00 00 06 00 01 00 02 01 E0")}), false, 0, 7, 7, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CMidiHeader header;
        header.m_format = header.m_trackCount = header.m_division = 7;
        std::uint32_t consumed = 99;
        EXPECT_EQ(
            ReadChunk(header, c.chunk.data(), static_cast<std::uint32_t>(c.chunk.size()), consumed),
            c.ok);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(header.m_format, c.format);
        EXPECT_EQ(header.m_trackCount, c.trackCount);
        EXPECT_EQ(header.m_division, c.division);
    }
}

TEST(CMidiHeader, WritesFourteenBytesAndClearsFieldsOnly) {
    CMidiHeader header;
    header.m_format = 1;
    header.m_trackCount = 2;
    header.m_division = 480;
    Bytes out(14, 0xAA);
    std::uint32_t written = 0;
    EXPECT_TRUE(header.WriteChunkHeader(out.data()));
    EXPECT_TRUE(header.WriteData(out.data() + 8, written));
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(zav::test::ToHex(out), "4D 54 68 64 00 00 00 06 00 01 00 02 01 E0");

    header.Clear();
    EXPECT_EQ(header.m_format, 0);
    EXPECT_EQ(header.m_trackCount, 0);
    EXPECT_EQ(header.m_division, 0);
    EXPECT_EQ(header.m_chunkId, CMidiHeader::kChunkId);
    EXPECT_EQ(header.GetDataSize(), 6u);
}

}  // namespace
