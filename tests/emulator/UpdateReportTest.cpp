#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/Digest.h"
#include "emulator/UpdateReport.h"
#include "tests/support/Bytes.h"

namespace {

using zav::emulator::ExpectedMessage;
using zav::emulator::ReceivedMessage;
using zav::emulator::Schedule;
using zav::emulator::UpdateReport;
using zav::test::Ascii;

TEST(Fnv1a64, KnownDigests) {
    const struct {
        std::string text;
        std::string hex;
    } cases[] = {
        {"", "cbf29ce484222325"},
        {"a", "af63dc4c8601ec8c"},
        {"foobar", "85944171f73967e8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        zav::emulator::Fnv1a64 digest;
        digest.Add(Ascii(c.text));
        EXPECT_EQ(digest.Hex(), c.hex);
    }
    // Fed in pieces, the digest is that of the whole stream.
    zav::emulator::Fnv1a64 pieces;
    pieces.Add(Ascii("foo"));
    pieces.Add(Ascii("bar"));
    EXPECT_EQ(pieces.Value(), 0x85944171F73967E8ull);
}

// Message i of a schedule is the single byte i, due 10 * i ms after the origin.
Schedule Tens(std::size_t n, std::optional<std::uint32_t> origin) {
    Schedule s;
    s.originMs = origin;
    for (std::size_t i = 0; i < n; ++i) {
        s.messages.push_back({static_cast<std::uint32_t>(10 * i), {static_cast<std::uint8_t>(i)}});
    }
    return s;
}

ReceivedMessage At(std::uint32_t ms, std::uint8_t id) {
    return {ms, {id}};
}

TEST(JudgeAgainstSchedule, MatchesByContentAndMeasuresLateness) {
    const struct {
        std::string name;
        std::vector<ReceivedMessage> received;
        std::optional<std::uint32_t> origin;
        std::vector<std::size_t> missing;
        std::size_t unscheduled;
        std::int64_t min, p50, p99, max;
        std::size_t early;
    } cases[] = {
        {"on time",
         {At(1000, 0), At(1010, 1), At(1020, 2), At(1030, 3)},
         1000,
         {},
         0,
         0,
         0,
         0,
         0,
         0},
        {"late and early",
         {At(1000, 0), At(1013, 1), At(1019, 2), At(1030, 3)},
         1000,
         {},
         0,
         -1,
         0,
         3,
         3,
         1},
        {"first taken as on time without an origin",
         {At(5000, 0), At(5012, 1), At(5020, 2), At(5030, 3)},
         std::nullopt,
         {},
         0,
         0,
         0,
         2,
         2,
         0},
        // A lost message does not shift the others.
        {"lost", {At(1000, 0), At(1020, 2), At(1030, 3)}, 1000, {1}, 0, 0, 0, 0, 0, 0},
        {"repeated",
         {At(1000, 0), At(1010, 1), At(1011, 1), At(1020, 2), At(1030, 3)},
         1000,
         {},
         1,
         0,
         0,
         0,
         0,
         0},
        {"stranger",
         {At(1000, 0), At(1005, 9), At(1010, 1), At(1020, 2), At(1030, 3)},
         1000,
         {},
         1,
         0,
         0,
         0,
         0,
         0},
        // Out of order: 1 is matched, late, and 2 before it is passed over.
        {"swapped",
         {At(1000, 0), At(1020, 2), At(1021, 1), At(1030, 3)},
         1000,
         {2},
         1,
         0,
         0,
         11,
         11,
         0},
        {"across the clock's wrap",
         {At(0xFFFFFFF6u, 0), At(0x01u, 1), At(0x09u, 2), At(0x14u, 3)},
         0xFFFFFFF6u,
         {},
         0,
         -1,
         0,
         1,
         1,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateReport report;
        zav::emulator::JudgeAgainstSchedule(c.received, Tens(4, c.origin), report);
        EXPECT_EQ(report.missing, c.missing);
        EXPECT_EQ(report.unscheduled, c.unscheduled);
        ASSERT_TRUE(report.lateness);
        EXPECT_EQ(report.lateness->matched, 4 - c.missing.size());
        EXPECT_EQ(report.lateness->min, c.min);
        EXPECT_EQ(report.lateness->p50, c.p50);
        EXPECT_EQ(report.lateness->p99, c.p99);
        EXPECT_EQ(report.lateness->max, c.max);
        EXPECT_EQ(report.lateness->early, c.early);
    }
}

TEST(JudgeAgainstSchedule, NearestRankPercentiles) {
    // 200 messages: 100 on time, 97 late by 5, 2 late by 20, 1 late by 50.
    const Schedule schedule = Tens(200, 0);
    std::vector<ReceivedMessage> received;
    for (std::size_t i = 0; i < 200; ++i) {
        const std::uint32_t late = i < 100 ? 0 : i < 197 ? 5 : i < 199 ? 20 : 50;
        received.push_back(
            At(static_cast<std::uint32_t>(10 * i) + late, static_cast<std::uint8_t>(i)));
    }
    UpdateReport report;
    zav::emulator::JudgeAgainstSchedule(received, schedule, report);
    ASSERT_TRUE(report.lateness);
    EXPECT_EQ(report.lateness->p50, 0);   // rank 100
    EXPECT_EQ(report.lateness->p99, 20);  // rank 198
    EXPECT_EQ(report.lateness->max, 50);

    // Nothing arrived: everything is missing and nothing is measured.
    UpdateReport none;
    zav::emulator::JudgeAgainstSchedule({}, Tens(3, 0), none);
    EXPECT_EQ(none.missing, (std::vector<std::size_t>{0, 1, 2}));
    ASSERT_TRUE(none.lateness);
    EXPECT_EQ(none.lateness->matched, 0u);
    EXPECT_FALSE(none.Clean());
}

TEST(FormatReport, SaysWhatWentWrong) {
    UpdateReport report;
    report.messagesReceived = 3;
    report.blocksReceived = 1;
    report.eraseReceived = true;
    report.digest = "0123456789abcdef";
    report.faults.push_back({zav::fw::FaultKind::MissingChecksum, 3, std::nullopt, 120,
                             "no checksum message after 3 messages"});
    const std::string text = zav::emulator::FormatReport(report);
    EXPECT_EQ(text,
              "received 3 messages: erase yes, data blocks 1, checksum no\n"
              "data digest 0123456789abcdef\n"
              "fault: missing checksum: message 3 at 120 ms: no checksum message after 3 messages\n"
              "faulty\n");
}

}  // namespace
