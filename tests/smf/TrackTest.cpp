#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "smf/CMidiTrack.h"
#include "tests/smf/SmfFixtures.h"
#include "tests/support/Bytes.h"

namespace {

using zav::test::Bytes;
using zav::test::Concat;
using zav::test::Describe;
using zav::test::FromHex;
using zav::test::MakeEvent;
using zav::test::ToHex;
using Lines = std::vector<std::string>;

// A body of exactly its own size: a read past its end shows under the address sanitizer.
bool Read(CMidiTrack& track, const Bytes& body) {
    return track.ReadData(body.data(), static_cast<std::uint32_t>(body.size()));
}

Bytes Filled(std::size_t n) {
    return Bytes(n, 0x11);
}

struct ParseCase {
    std::string reason;
    Bytes body;
    Lines events;
};

TEST(TrackParse, GivesRecordsWithAbsoluteTicks) {
    const ParseCase cases[] = {
        {"empty body", {}, {}},
        {"end of track is not stored", FromHex("00 FF 2F 00"), {}},
        {"F0 sysex keeps its F0",
         FromHex("00 F0 05 7E 7F 09 01 F7"),
         {"SysEx 00 @0 [F0 7E 7F 09 01 F7]"}},
        {"F7 sysex is its declared bytes alone",
         FromHex("00 F7 02 01 F7"),
         {"SysEx 00 @0 [01 F7]"}},
        {"running status",
         FromHex("00 90 3C 40  10 3E 40"),
         {"Channel 90 @0 [3C 40]", "Channel 90 @16 [3E 40]"}},
        {"a meta event leaves running status alone",
         FromHex("00 90 3C 40  00 FF 01 00  00 3E 40"),
         {"Channel 90 @0 [3C 40]", "Meta 01 @0 []", "Channel 90 @0 [3E 40]"}},
        {"a sysex event leaves running status alone",
         FromHex("00 B1 07 64  05 F0 01 F7  00 0A 40"),
         {"Channel B1 @0 [07 64]", "SysEx 00 @5 [F0 F7]", "Channel B1 @5 [0A 40]"}},
        {"program change has one data byte", FromHex("00 C0 05"), {"Channel C0 @0 [05]"}},
        {"a new status replaces the running one",
         FromHex("00 90 3C 40  00 D3 10  01 20"),
         {"Channel 90 @0 [3C 40]", "Channel D3 @0 [10]", "Channel D3 @1 [20]"}},
        {"F1 under running status is a data byte",
         FromHex("00 E0 00 40  00 F1 40"),
         {"Channel E0 @0 [00 40]", "Channel E0 @0 [F1 40]"}},
        {"deltas add up",
         FromHex("03 FF 01 00  F8 02 FF 01 00  35 FF 01 00"),
         {"Meta 01 @3 []", "Meta 01 @15365 []", "Meta 01 @15418 []"}},
        {"unlisted meta types are stored", FromHex("00 FF 60 02 AA BB"), {"Meta 60 @0 [AA BB]"}},
        {"tempo", FromHex("00 FF 51 03 07 A1 20"), {"Meta 51 @0 [07 A1 20]"}},
        {"ticks wrap in 32 bits; a five-byte delta is read",
         FromHex("8F FF FF FF 7F C0 00  02 C0 01"),
         {"Channel C0 @4294967295 [00]", "Channel C0 @1 [01]"}},
        // Parsing goes on after an end of track; it does not advance the tick.
        {"events after an end of track are read",
         FromHex("07 FF 2F 00  05 C0 01"),
         {"Channel C0 @5 [01]"}},
        {"meta length 65535 is accepted",
         Concat({FromHex("00 FF 01 83 FF 7F"), Filled(65535)}),
         {"Meta 01 @0 [" + ToHex(Filled(65535)) + "]"}},
        {"sysex length 65535 is accepted",
         Concat({FromHex("00 F7 83 FF 7F"), Filled(65535)}),
         {"SysEx 00 @0 [" + ToHex(Filled(65535)) + "]"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CMidiTrack track;
        ASSERT_TRUE(Read(track, c.body));
        EXPECT_EQ(Describe(track), c.events);
    }
}

struct MalformedCase {
    std::string reason;
    Bytes body;
    std::size_t eventsKept;
};

TEST(TrackParse, RefusesMalformedBodiesKeepingEarlierEvents) {
    const MalformedCase cases[] = {
        {"no status and no running status", FromHex("00 3C 40"), 0},
        {"second data byte past the body", FromHex("00 90 3C"), 0},
        {"running data byte past the body", FromHex("00 90 3C 40  00 3E"), 1},
        {"status F1 without running status", FromHex("00 F1 40"), 0},
        {"delta time runs off the end", FromHex("00 C0 05  81"), 1},
        {"delta time with no event after it", FromHex("00 C0 05  00"), 1},
        {"meta type is the last byte", FromHex("00 C0 05  00 FF 01"), 1},
        {"meta without its type", FromHex("00 FF"), 0},
        {"meta length runs off the end", FromHex("00 FF 01 80"), 0},
        {"meta data runs past the body", FromHex("00 FF 01 05 41 42"), 0},
        {"sysex data runs past the body", FromHex("00 C0 05  00 F0 05 7E 7F"), 1},
        {"sysex length runs off the end", FromHex("00 F0 81"), 0},
        {"F7 data runs past the body", FromHex("00 F7 03 01 F7"), 0},
        {"meta length 65536", Concat({FromHex("00 FF 01 84 80 00"), Filled(65536)}), 0},
        {"sysex length 65536", Concat({FromHex("00 F0 84 80 00"), Filled(65536)}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CMidiTrack track;
        EXPECT_FALSE(Read(track, c.body));
        EXPECT_EQ(track.m_events.size(), c.eventsKept);
    }
}

TEST(TrackParse, AppendsToEventsAlreadyHeld) {
    CMidiTrack track;
    track.AddEvent(MakeEvent(MidiEventKind::Meta, 0x03, 50, zav::test::Ascii("x")));
    ASSERT_TRUE(Read(track, FromHex("05 C0 01")));
    // The body's ticks start from 0, not from the events already held.
    EXPECT_EQ(Describe(track), (Lines{"Meta 03 @50 [78]", "Channel C0 @5 [01]"}));
}

struct Ev {
    MidiEventKind kind;
    std::uint8_t status;
    std::uint32_t tick;
    Bytes data;
};

struct WriteCase {
    std::string reason;
    std::vector<Ev> events;
    Bytes body;
};

TEST(TrackWrite, WritesEachKindAndMeasuresWhatItWrites) {
    using K = MidiEventKind;
    const Bytes eot = FromHex("00 FF 2F 00");
    const WriteCase cases[] = {
        {"no events", {}, eot},
        {"F0 sysex",
         {Ev{K::SysEx, 0, 0, FromHex("F0 7E 7F 09 01 F7")}},
         Concat({FromHex("00 F0 05 7E 7F 09 01 F7"), eot})},
        {"F7 record is written as an F0 event",
         {Ev{K::SysEx, 0, 0, FromHex("01 F7")}},
         Concat({FromHex("00 F0 02 01 F7"), eot})},
        {"empty sysex", {Ev{K::SysEx, 0, 0, {}}}, Concat({FromHex("00 F0 00"), eot})},
        {"sysex of 128 bytes with F0 has length 7F",
         {Ev{K::SysEx, 0, 0, Concat({FromHex("F0"), Filled(127)})}},
         Concat({FromHex("00 F0 7F"), Filled(127), eot})},
        {"sysex of 129 bytes with F0 has a two-byte length",
         {Ev{K::SysEx, 0, 0, Concat({FromHex("F0"), Filled(128)})}},
         Concat({FromHex("00 F0 81 00"), Filled(128), eot})},
        {"no running status, deltas from the previous event",
         {Ev{K::Channel, 0x90, 0, FromHex("3C 40")}, Ev{K::Channel, 0x90, 16, FromHex("3E 40")},
          Ev{K::Channel, 0xC2, 200, FromHex("05")}},
         Concat({FromHex("00 90 3C 40  10 90 3E 40  81 38 C2 05"), eot})},
        {"a channel record without a table status writes its data only",
         {Ev{K::Channel, 0x3C, 0, FromHex("40")}},
         Concat({FromHex("00 40"), eot})},
        {"meta events, empty and not",
         {Ev{K::Meta, 0x01, 0, {}}, Ev{K::Meta, 0x51, 3, FromHex("07 A1 20")}},
         Concat({FromHex("00 FF 01 00  03 FF 51 03 07 A1 20"), eot})},
        {"a delta of 2^28 takes five bytes",
         {Ev{K::Meta, 0x01, 0x10000000, {}}},
         Concat({FromHex("81 80 80 80 00 FF 01 00"), eot})},
        {"a record without a kind is left out",
         {Ev{K::Meta, 0x01, 4, {}}, Ev{MidiEventKind{}, 0x90, 9, FromHex("3C 40")},
          Ev{K::Meta, 0x02, 6, {}}},
         Concat({FromHex("04 FF 01 00  02 FF 02 00"), eot})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        CMidiTrack track;
        for (const Ev& e : c.events)
            track.AddEvent(MakeEvent(e.kind, e.status, e.tick, e.data));
        ASSERT_EQ(track.GetDataSize(), c.body.size());
        Bytes out(c.body.size() + 1, 0xEE);
        std::uint32_t written = 0;
        EXPECT_TRUE(track.WriteData(out.data(), written));
        EXPECT_EQ(written, c.body.size());
        EXPECT_EQ(out.back(), 0xEE) << "wrote past GetDataSize";
        out.pop_back();
        EXPECT_EQ(ToHex(out), ToHex(c.body));
    }
}

TEST(TrackWrite, WrittenBodyReadsBackToTheSameRecords) {
    // Running status, an F7 record, a five-byte delta, ticks that wrap: the ticks come back exact.
    const Bytes body = FromHex(
        "00 FF 03 02 41 42  00 90 3C 40  10 3E 40  00 F0 03 43 10 F7  8F FF FF FF 7F C0 05"
        "  20 FF 7F 03 43 7B 02");
    CMidiTrack first;
    ASSERT_TRUE(Read(first, body));
    Bytes written(first.GetDataSize());
    std::uint32_t n = 0;
    first.WriteData(written.data(), n);
    CMidiTrack second;
    ASSERT_TRUE(Read(second, written));
    EXPECT_EQ(Describe(second), Describe(first));
    EXPECT_EQ(first.m_events.size(), 6u);
}

TEST(CMidiTrack, ClearEmptiesEventsAndKeepsTheId) {
    CMidiTrack track;
    ASSERT_TRUE(Read(track, FromHex("00 C0 05  00 C0 06")));
    ASSERT_EQ(track.m_events.size(), 2u);
    track.AddEvent(nullptr);
    EXPECT_EQ(track.m_events.size(), 2u);
    track.Clear();
    EXPECT_TRUE(track.m_events.empty());
    EXPECT_EQ(track.m_chunkId, CMidiTrack::kChunkId);
    EXPECT_EQ(track.GetDataSize(), 4u);
}

}  // namespace
