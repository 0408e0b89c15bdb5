#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "resources/TestImage.h"
#include "smf/CSMF.h"
#include "tests/support/Bytes.h"
#include "tests/update/SmfFile.h"
#include "update/FirmwareMessages.h"
#include "update/SendSchedule.h"
#include "update/UpdateProgress.h"

namespace {

using zav::test::Bytes;
using zav::test::Concat;
using zav::test::FromHex;
using zav::test::SmfFile;
using zav::test::ToHex;

struct Loaded {
    CSMF smf;
    bool loads = false;
};

std::unique_ptr<Loaded> Load(std::span<const std::uint8_t> file) {
    auto doc = std::make_unique<Loaded>();
    std::uint32_t consumed = 0;
    doc->loads = doc->smf.Load(file.data(), static_cast<std::uint32_t>(file.size()), consumed);
    return doc;
}

std::vector<std::uint32_t> DueTimes(const SendSchedule& schedule) {
    std::vector<std::uint32_t> times;
    for (const auto& m : schedule)
        times.push_back(m.timeMs);
    return times;
}

// Track pieces, each one event with its delta.
const Bytes kTempo120 = FromHex("FF 51 03 07 A1 20");  // 500,000 µs
const Bytes kTempo60 = FromHex("FF 51 03 0F 42 40");   // 1,000,000 µs
const Bytes kName = FromHex("FF 03 01 41");
Bytes At(const std::string& delta, const Bytes& event) {
    return Concat({FromHex(delta), event});
}
// A SysEx message F0 7D <n> F7, told apart by n.
Bytes SysEx(std::uint8_t n) {
    return Bytes{0xF0, 0x03, 0x7D, n, 0xF7};
}

TEST(SendSchedule, TheTestImage) {
    const auto doc = Load(zav::fw::TestImage());
    ASSERT_TRUE(doc->loads);
    const auto map = zav::engine::BuildTempoMap(doc->smf);
    ASSERT_TRUE(map);
    ASSERT_EQ(map->size(), 1u);
    EXPECT_EQ(map->front().tick, 0u);
    EXPECT_EQ(map->front().bpm, 120u);

    const SendSchedule schedule = zav::engine::BuildSendSchedule(doc->smf, *map);
    ASSERT_EQ(schedule.size(), 2343u);
    const struct {
        std::size_t index;
        std::uint32_t tick;
        std::uint32_t dueMs;
    } cases[] = {
        {0, 3, 3},
        {1, 15365, 16005},
        {2, 15418, 16060},
        {2341, 139181, 144980},
        {2342, 140374, 146223},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(schedule[c.index].tick, c.tick);
        EXPECT_EQ(schedule[c.index].timeMs, c.dueMs);
    }
    // Copies of the complete messages, in file order.
    const auto& events = doc->smf.m_tracks[1]->m_events;
    for (std::size_t i = 0; i < schedule.size(); ++i) {
        const auto stored = events[i + 1]->Bytes();
        ASSERT_EQ(schedule[i].bytes, Bytes(stored.begin(), stored.end())) << i;
        ASSERT_NE(schedule[i].bytes.data(), stored.data()) << i;
    }
    EXPECT_EQ(zav::fw::ClassifyMessage(schedule.front().bytes).kind, zav::fw::MessageKind::Erase);
    EXPECT_EQ(zav::fw::ClassifyMessage(schedule.back().bytes).kind, zav::fw::MessageKind::Checksum);
}

TEST(SendSchedule, DueTimesOfSmallFiles) {
    const struct {
        std::string name;
        std::uint16_t division;
        std::vector<Bytes> tracks;
        std::vector<std::uint32_t> due;
    } cases[] = {
        {"no tempo: all due at 0",
         480,
         {Concat({At("00", SysEx(1)), At("83 60", SysEx(2)), At("85 EE 00", SysEx(3))})},
         {0, 0, 0}},
        {"tempo in another track has no effect",
         480,
         {Concat({At("00", kName), At("83 60", SysEx(1))}),
          Concat({At("00", kTempo60), At("83 60", SysEx(2))})},
         {0, 0}},
        {"tempo of the first track governs all tracks",
         480,
         {Concat({At("00", kTempo120), At("83 60", SysEx(1))}),
          Concat({At("00", kTempo60), At("83 60", SysEx(2))})},
         {500, 500}},
        {"two tempos at one tick: the later governs",
         480,
         {Concat({At("00", kTempo60), At("00", kTempo120), At("83 60", SysEx(1))})},
         {500}},
        {"two tempos at one tick, the other way round",
         480,
         {Concat({At("00", kTempo120), At("00", kTempo60), At("83 60", SysEx(1))})},
         {1000}},
        {"a tempo at the event's own tick does not affect it",
         480,
         {Concat({At("00", kTempo120), At("83 60", SysEx(1)), At("00", kTempo60),
                  At("00", SysEx(2)), At("83 60", SysEx(3))})},
         {500, 500, 1500}},
        {"ticks before the first tempo count for nothing",
         480,
         {Concat({At("87 68", kTempo120), At("00", SysEx(1)), At("83 60", SysEx(2))}),
          Concat({At("83 74", SysEx(3))})},
         {0, 500, 0}},
        {"tracks one after the other, not sorted",
         480,
         {Concat({At("00", kTempo120), At("87 40", SysEx(1))}),
          Concat({At("00", SysEx(2)), At("83 60", SysEx(3))}), Concat({At("81 70", SysEx(4))})},
         {1000, 0, 500, 250}},
        {"division with its top bit set is unsigned (0xE728 = 59176)",
         0xE728,
         {Concat({At("00", kTempo120), At("83 CE 28", SysEx(1)), At("83 CE 28", SysEx(2))})},
         {500, 1000}},
        {"each segment is rounded by itself",
         3,
         {Concat(
             {At("00", kTempo120), At("01", SysEx(1)), At("00", kTempo120), At("01", SysEx(2))})},
         {167, 334}},
        {"half a millisecond rounds up",
         1000,
         {Concat({At("00", kTempo120), At("01", SysEx(1)), At("02", SysEx(2))})},
         {1, 2}},
        {"whole bpm: 700,000 µs is 85 bpm, not 85.71",
         1,
         {Concat({At("00", FromHex("FF 51 03 0A AE 60")), At("01", SysEx(1))})},
         {706}},
        {"bytes after the third of a tempo are ignored",
         480,
         {Concat({At("00", FromHex("FF 51 04 07 A1 20 99")), At("83 60", SysEx(1))})},
         {500}},
        {"the sum wraps modulo 2^32",
         1,
         {Concat({At("00", FromHex("FF 51 03 FF FF FF")), At("FF FF FF 7F", SysEx(1))})},
         {4294947296u}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto doc = Load(SmfFile(c.division, c.tracks));
        ASSERT_TRUE(doc->loads);
        const auto map = zav::engine::BuildTempoMap(doc->smf);
        ASSERT_TRUE(map);
        EXPECT_EQ(DueTimes(zav::engine::BuildSendSchedule(doc->smf, *map)), c.due);
    }
}

TEST(SendSchedule, OnlySysExIsSentAsStored) {
    const auto doc = Load(SmfFile(480, {Concat({
                                           At("00", kTempo120),
                                           At("00", FromHex("90 3C 40")),        // note on
                                           At("00", FromHex("F0 03 7E 01 F7")),  // F0 form
                                           At("00", FromHex("F7 03 01 02 F7")),  // F7 form
                                           At("00", FromHex("F7 00")),           // empty: skipped
                                           At("00", kName),
                                           At("00", FromHex("F7 01 F8")),
                                       })}));
    ASSERT_TRUE(doc->loads);
    const auto schedule = zav::engine::BuildSendSchedule(doc->smf, {});
    std::vector<std::string> sent;
    for (const auto& m : schedule)
        sent.push_back(ToHex(m.bytes));
    EXPECT_EQ(sent, (std::vector<std::string>{"F0 7E 01 F7", "01 02 F7", "F8"}));
}

TEST(TempoMap, UnusableTempoRefusesTheDocument) {
    const struct {
        std::string name;
        Bytes firstTrack;
        bool refused;
    } cases[] = {
        {"no data byte", At("00", FromHex("FF 51 00")), true},
        {"two data bytes", At("00", FromHex("FF 51 02 07 A1")), true},
        {"tempo 0", At("00", FromHex("FF 51 03 00 00 00")), true},
        {"a bad tempo after a good one",
         Concat({At("00", kTempo120), At("10", FromHex("FF 51 03 00 00 00"))}), true},
        {"slowest tempo: 3 bpm", At("00", FromHex("FF 51 03 FF FF FF")), false},
        {"fastest tempo: 60,000,000 bpm", At("00", FromHex("FF 51 03 00 00 01")), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto doc = Load(SmfFile(480, {c.firstTrack}));
        ASSERT_TRUE(doc->loads);
        EXPECT_EQ(!zav::engine::BuildTempoMap(doc->smf).has_value(), c.refused);
    }

    // Only the first track's tempos are read, bad ones too.
    const auto other = Load(SmfFile(480, {At("00", kName), At("00", FromHex("FF 51 01 07"))}));
    ASSERT_TRUE(other->loads);
    const auto map = zav::engine::BuildTempoMap(other->smf);
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->empty());
    EXPECT_TRUE(zav::engine::BuildTempoMap(CSMF{})->empty());
}

TEST(TempoMap, BpmAndTicksOfEachPoint) {
    const auto doc =
        Load(SmfFile(480, {Concat({At("00", kTempo120), At("83 60", FromHex("FF 51 03 0A AE 60")),
                                   At("00", FromHex("FF 51 03 FF FF FF")),
                                   At("10", FromHex("FF 51 03 00 00 01"))})}));
    ASSERT_TRUE(doc->loads);
    const auto map = zav::engine::BuildTempoMap(doc->smf);
    ASSERT_TRUE(map);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> points;
    for (const auto& p : *map)
        points.emplace_back(p.tick, p.bpm);
    EXPECT_EQ(points, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                          {0, 120}, {480, 85}, {480, 3}, {496, 60'000'000}}));
}

TEST(TickToMilliseconds, PointsThatCannotComeFromAFileAddNoTime) {
    const TempoMap map{{0, 120}, {100, 0}, {200, 120}};
    // Two stretches of 100 ticks at 120 bpm, 104 ms each; the one at 0 bpm adds nothing.
    EXPECT_EQ(TickToMilliseconds(300, map, 480), 208u);
    EXPECT_EQ(TickToMilliseconds(300, map, 0), 0u);
    EXPECT_EQ(TickToMilliseconds(0, map, 480), 0u);
}

TEST(UpdateProgress, ReportsOfTheTestImage) {
    zav::engine::ProgressTracker tracker(2343);
    std::vector<std::pair<std::size_t, int>> reports;
    for (std::size_t i = 0; i < 2343; ++i) {
        if (const auto p = tracker.Sent(i))
            reports.emplace_back(i, *p);
    }
    ASSERT_EQ(reports.size(), 100u);
    for (std::size_t k = 0; k < reports.size(); ++k)
        EXPECT_EQ(reports[k].second, static_cast<int>(k) + 1);
    EXPECT_EQ(reports.front().first, 12u);
    EXPECT_EQ(reports.back().first, 2332u);
}

TEST(UpdateProgress, ReportsOfShortUpdates) {
    const struct {
        std::size_t count;
        std::size_t reports;
        int first;  // the first and last reported, 0 when none
        int last;
    } cases[] = {
        {0, 0, 0, 0},   {1, 0, 0, 0},     {2, 1, 50, 50},
        {3, 2, 33, 67}, {199, 99, 1, 99}, {200, 100, 1, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        zav::engine::ProgressTracker tracker(c.count);
        std::vector<int> reports;
        for (std::size_t i = 0; i < c.count; ++i) {
            if (const auto p = tracker.Sent(i))
                reports.push_back(*p);
        }
        EXPECT_EQ(reports.size(), c.reports);
        EXPECT_EQ(reports.empty() ? 0 : reports.front(), c.first);
        EXPECT_EQ(reports.empty() ? 0 : reports.back(), c.last);
        for (std::size_t k = 1; k < reports.size(); ++k)
            EXPECT_LT(reports[k - 1], reports[k]);
    }
}

}  // namespace
