#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "smf/CSMF.h"
#include "tests/smf/SmfFixtures.h"
#include "tests/support/Bytes.h"

namespace {

using zav::test::Ascii;
using zav::test::Bytes;
using zav::test::Chunk;
using zav::test::Concat;
using zav::test::Describe;
using zav::test::FromHex;
using zav::test::HeaderChunk;
using zav::test::MakeEvent;
using zav::test::ToHex;
using zav::test::TrackChunk;
using Lines = std::vector<std::string>;

bool Load(CSMF& smf, const Bytes& file, std::uint32_t& consumed) {
    return smf.Load(file.data(), static_cast<std::uint32_t>(file.size()), consumed);
}

Bytes Written(const CSMF& smf) {
    Bytes out(smf.GetFileSize() + 1, 0xEE);
    std::uint32_t counter = 0;
    EXPECT_TRUE(smf.Write(out.data(), counter));
    EXPECT_EQ(counter, smf.GetFileSize());
    EXPECT_EQ(out.back(), 0xEE) << "wrote past GetFileSize";
    out.pop_back();
    return out;
}

void ExpectEmpty(const CSMF& smf) {
    EXPECT_TRUE(smf.m_tracks.empty());
    EXPECT_EQ(smf.m_header.m_chunkId, 0u);
    EXPECT_EQ(smf.m_header.m_format, 0);
    EXPECT_EQ(smf.m_header.m_trackCount, 0);
    EXPECT_EQ(smf.m_header.m_division, 0);
}

const Bytes kEmptyTrack = TrackChunk(FromHex("00 FF 2F 00"));
const Bytes kNoteTrack = TrackChunk(FromHex("00 90 3C 40  60 80 3C 00  00 FF 2F 00"));

// The smallest whole file: format 0, division 96, one track with only its end of track.
const Bytes kMinimalFile = FromHex(
    "4D 54 68 64 00 00 00 06 00 00 00 01 00 60"
    "4D 54 72 6B 00 00 00 04 00 FF 2F 00");

TEST(CSMF, LoadsSizesAndWritesTheMinimalFile) {
    CSMF smf;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(Load(smf, kMinimalFile, consumed));
    EXPECT_EQ(consumed, 26u);
    EXPECT_EQ(smf.m_header.m_chunkId, CMidiHeader::kChunkId);
    EXPECT_EQ(smf.m_header.m_format, 0);
    EXPECT_EQ(smf.m_header.m_trackCount, 1);
    EXPECT_EQ(smf.m_header.m_division, 96);
    ASSERT_EQ(smf.m_tracks.size(), 1u);
    EXPECT_EQ(smf.m_tracks[0]->m_chunkId, CMidiTrack::kChunkId);
    EXPECT_TRUE(smf.m_tracks[0]->m_events.empty());
    EXPECT_EQ(smf.GetFileSize(), 26u);
    EXPECT_EQ(ToHex(Written(smf)), ToHex(kMinimalFile));
}

struct RefusedCase {
    std::string reason;
    Bytes file;
};

TEST(CSMF, RefusedFilesLeaveTheDocumentEmpty) {
    const Bytes twoTracks = Concat({kNoteTrack, kEmptyTrack});
    const RefusedCase cases[] = {
        {"13 bytes", Bytes(kMinimalFile.begin(), kMinimalFile.begin() + 13)},
        {"begins with MTrk", Concat({kEmptyTrack, kEmptyTrack})},
        {"header body length 7",
         Concat({Ascii("MThd"), FromHex("00 00 00 07 00 00 00 01 00 60 00"), kEmptyTrack})},
        {"format 2", Concat({HeaderChunk(2, 1, 96), kEmptyTrack})},
        {"format 3", Concat({HeaderChunk(3, 1, 96), kEmptyTrack})},
        {"track count 0", Concat({HeaderChunk(0, 0, 96), kEmptyTrack})},
        {"three tracks declared, two tags", Concat({HeaderChunk(1, 3, 96), twoTracks})},
        {"a tag in event data followed by a value of the buffer's size",
         // The sysex carries "MTrk" and 00 00 00 21, which is this file's size (33).
         Concat({HeaderChunk(0, 1, 96), TrackChunk(Concat({FromHex("00 F7 08"), Ascii("MTrk"),
                                                           FromHex("00 00 00 21")}))})},
        {"division 0", Concat({HeaderChunk(0, 1, 0), kEmptyTrack})},
        {"division 80 00", Concat({HeaderChunk(0, 1, 0x8000), kEmptyTrack})},
        {"division 80 E0", Concat({HeaderChunk(0, 1, 0x80E0), kEmptyTrack})},
        {"another chunk before the first track",
         Concat({HeaderChunk(1, 1, 96), Chunk("XFIH", FromHex("01 02")), kEmptyTrack})},
        {"fewer track chunks than declared follow",
         Concat({HeaderChunk(1, 2, 96), kEmptyTrack, Chunk("XFIH", Ascii("MTrk")),
                 FromHex("00 00 00 00")})},
        {"a track chunk longer than the buffer",
         Concat({HeaderChunk(0, 1, 96), Ascii("MTrk"), FromHex("00 00 00 09 00 FF 2F 00")})},
        {"a truncated event in the second track",
         Concat({HeaderChunk(1, 2, 96), kNoteTrack, TrackChunk(FromHex("00 F0 05 7E 7F"))})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        // A document that held a file before: a refused load removes that too.
        CSMF smf;
        std::uint32_t consumed = 0;
        ASSERT_TRUE(Load(smf, kMinimalFile, consumed));
        EXPECT_FALSE(Load(smf, c.file, consumed));
        ExpectEmpty(smf);
    }
    CSMF smf;
    std::uint32_t consumed = 0;
    EXPECT_FALSE(smf.Load(nullptr, 26, consumed));
    ExpectEmpty(smf);
}

struct AcceptedCase {
    std::string reason;
    Bytes file;
    std::uint32_t consumed;
    std::uint16_t division;
    std::size_t tracks;
};

TEST(CSMF, AcceptedFiles) {
    const Bytes header1 = HeaderChunk(1, 2, 480);
    const AcceptedCase cases[] = {
        {"division E7 28 is stored as it is", Concat({HeaderChunk(0, 1, 0xE728), kEmptyTrack}), 26,
         0xE728, 1},
        {"bytes after the last track are not consumed",
         Concat({HeaderChunk(0, 1, 96), kEmptyTrack, FromHex("01 02 03 04 05")}), 26, 96, 1},
        {"a chunk after the last track is ignored",
         Concat({HeaderChunk(0, 1, 96), kEmptyTrack, Chunk("XFIH", FromHex("01"))}), 26, 96, 1},
        {"a tag too near the end for its value does not count",
         Concat({HeaderChunk(0, 1, 96), kEmptyTrack, Ascii("MTrk"), FromHex("FF FF FF")}), 26, 96,
         1},
        {"format 1 with two tracks", Concat({header1, kNoteTrack, kEmptyTrack}),
         static_cast<std::uint32_t>(14 + kNoteTrack.size() + kEmptyTrack.size()), 480, 2},
        {"more tags than tracks", Concat({HeaderChunk(0, 1, 96), kEmptyTrack, kEmptyTrack}), 26, 96,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CSMF smf;
        std::uint32_t consumed = 0;
        ASSERT_TRUE(Load(smf, c.file, consumed));
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(smf.m_header.m_division, c.division);
        EXPECT_EQ(smf.m_tracks.size(), c.tracks);
    }
}

TEST(CSMF, ConsumedIsAddedTo) {
    CSMF smf;
    std::uint32_t consumed = 100;
    ASSERT_TRUE(Load(smf, kMinimalFile, consumed));
    EXPECT_EQ(consumed, 126u);
}

TEST(CSMF, SecondLoadAppendsTracksAndReplacesTheHeader) {
    CSMF smf;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(Load(smf, Concat({HeaderChunk(1, 2, 480), kNoteTrack, kEmptyTrack}), consumed));
    ASSERT_TRUE(Load(smf, kMinimalFile, consumed));
    EXPECT_EQ(smf.m_header.m_format, 0);
    EXPECT_EQ(smf.m_header.m_division, 96);
    ASSERT_EQ(smf.m_tracks.size(), 3u);
    EXPECT_EQ(smf.m_tracks[0]->m_events.size(), 2u);
    EXPECT_TRUE(smf.m_tracks[1]->m_events.empty());
    EXPECT_TRUE(smf.m_tracks[2]->m_events.empty());
}

TEST(CSMF, ClearEmptiesAndAClearedDocumentLoadsAgain) {
    CSMF smf;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(Load(smf, kMinimalFile, consumed));
    smf.Clear();
    ExpectEmpty(smf);
    EXPECT_EQ(smf.GetFileSize(), 14u);
    consumed = 0;
    ASSERT_TRUE(Load(smf, kMinimalFile, consumed));
    EXPECT_EQ(smf.m_header.m_chunkId, CMidiHeader::kChunkId);
    EXPECT_EQ(consumed, 26u);
}

TEST(CSMF, WritesTracksBackToBackAndRoundTrips) {
    // Running status in the file is written out in full, so compare with the canonical form.
    const Bytes file =
        Concat({HeaderChunk(1, 2, 480), kNoteTrack, TrackChunk(FromHex("00 F0 01 F7"))});
    const Bytes canonical = Concat({HeaderChunk(1, 2, 480),
                                    TrackChunk(FromHex("00 90 3C 40  60 80 3C 00  00 FF 2F 00")),
                                    TrackChunk(FromHex("00 F0 01 F7  00 FF 2F 00"))});
    CSMF smf;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(Load(smf, file, consumed));
    EXPECT_EQ(ToHex(Written(smf)), ToHex(canonical));

    // A counter that is not 0 on entry is added to; the bytes land at dst all the same.
    Bytes out(smf.GetFileSize());
    std::uint32_t counter = 5;
    ASSERT_TRUE(smf.Write(out.data(), counter));
    EXPECT_EQ(counter, 5 + canonical.size());
    EXPECT_EQ(ToHex(out), ToHex(canonical));
}

TEST(CSMF, WritesEventsAddedByHand) {
    CSMF smf;
    smf.m_header.m_format = 0;
    smf.m_header.m_trackCount = 1;
    smf.m_header.m_division = 480;
    auto track = std::make_unique<CMidiTrack>();
    track->AddEvent(MakeEvent(MidiEventKind::Meta, 0x51, 0, FromHex("07 A1 20")));
    track->AddEvent(MakeEvent(MidiEventKind::SysEx, 0, 3, FromHex("F0 43 7D 30 F7")));
    smf.m_tracks.push_back(std::move(track));
    const Bytes file = Written(smf);
    EXPECT_EQ(
        ToHex(file),
        ToHex(Concat(
            {HeaderChunk(0, 1, 480),
             TrackChunk(FromHex("00 FF 51 03 07 A1 20  03 F0 04 43 7D 30 F7  00 FF 2F 00"))})));
    CSMF back;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(Load(back, file, consumed));
    EXPECT_EQ(Describe(*back.m_tracks[0]),
              (Lines{"Meta 51 @0 [07 A1 20]", "SysEx 00 @3 [F0 43 7D 30 F7]"}));
}

TEST(CSMF, SortOrdersByTickWithSequencerEventsFirst) {
    using K = MidiEventKind;
    CSMF smf;
    smf.m_tracks.push_back(std::make_unique<CMidiTrack>());
    smf.m_tracks.push_back(std::make_unique<CMidiTrack>());  // empty: left alone
    CMidiTrack& t = *smf.m_tracks[0];
    t.AddEvent(MakeEvent(K::Channel, 0x90, 10, FromHex("3C 40")));
    t.AddEvent(MakeEvent(K::Meta, 0x01, 0, FromHex("41")));
    t.AddEvent(MakeEvent(K::Meta, 0x7F, 10, FromHex("43 7B 02")));
    // Not leading: too short, another meta type, another kind, other data.
    t.AddEvent(MakeEvent(K::Meta, 0x7F, 10, FromHex("43 7B")));
    t.AddEvent(MakeEvent(K::Meta, 0x7E, 10, FromHex("43 7B 02")));
    t.AddEvent(MakeEvent(K::SysEx, 0, 10, FromHex("43 7B 02")));
    t.AddEvent(MakeEvent(K::Meta, 0x7F, 10, FromHex("43 7B 03")));
    // A second leading event at the same tick, and one with more data.
    t.AddEvent(MakeEvent(K::Meta, 0x7F, 10, FromHex("43 7B 02 01")));
    // Ticks compare unsigned.
    t.AddEvent(MakeEvent(K::Channel, 0xC0, 0x80000000, FromHex("01")));
    t.AddEvent(MakeEvent(K::Channel, 0xC0, 5, FromHex("02")));
    smf.SortEvents();
    EXPECT_EQ(Describe(t), (Lines{
                               "Meta 01 @0 [41]",
                               "Channel C0 @5 [02]",
                               "Meta 7F @10 [43 7B 02]",
                               "Meta 7F @10 [43 7B 02 01]",
                               "Channel 90 @10 [3C 40]",
                               "Meta 7F @10 [43 7B]",
                               "Meta 7E @10 [43 7B 02]",
                               "SysEx 00 @10 [43 7B 02]",
                               "Meta 7F @10 [43 7B 03]",
                               "Channel C0 @2147483648 [01]",
                           }));
    EXPECT_TRUE(smf.m_tracks[1]->m_events.empty());
}

TEST(EventPrecedes, IsAStrictOrderForLeadingEvents) {
    const auto lead = MakeEvent(MidiEventKind::Meta, 0x7F, 10, FromHex("43 7B 02"));
    const auto other = MakeEvent(MidiEventKind::Meta, 0x7F, 10, FromHex("43 7B 02"));
    const auto note = MakeEvent(MidiEventKind::Channel, 0x90, 10, FromHex("3C 40"));
    EXPECT_FALSE(EventPrecedes(*lead, *lead));
    EXPECT_FALSE(EventPrecedes(*lead, *other));
    EXPECT_TRUE(EventPrecedes(*lead, *note));
    EXPECT_FALSE(EventPrecedes(*note, *lead));
    EXPECT_FALSE(EventPrecedes(*note, *note));
}

}  // namespace
