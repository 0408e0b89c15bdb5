#include <gtest/gtest.h>

#include "midi/DeviceReply.h"
#include "tests/midi/MidiBench.h"

namespace {

using zav::test::Bytes;
using zav::test::FromHex;
using zav::test::StatusMessage;

TEST(ReadStatusCharacter, AcceptsOnlyStatusMessages) {
    struct Case {
        const char* reason;
        Bytes message;
        char expected;
    };
    const Bytes nine = StatusMessage('1', 0x61);
    const Case cases[] = {
        {"9 bytes, command 61", nine, '1'},
        {"status 0", StatusMessage('0'), '0'},
        {"command 6F reads like 60", StatusMessage('1', 0x6F), '1'},
        {"another status character is read", StatusMessage('2'), '2'},
        {"longer than 9 bytes", FromHex("F0 43 7D 60 44 54 41 31 00 01 02 F7"), '1'},
        {"8 bytes, no F7", Bytes(nine.begin(), nine.end() - 1), 0},
        {"command 50", StatusMessage('1', 0x50), 0},
        {"command 70", StatusMessage('1', 0x70), 0},
        {"sub-identifier 7E", FromHex("F0 43 7E 60 44 54 41 31 F7"), 0},
        {"manufacturer 42", FromHex("F0 42 7D 60 44 54 41 31 F7"), 0},
        {"no F0", FromHex("F1 43 7D 60 44 54 41 31 F7"), 0},
        {"tag DTB", FromHex("F0 43 7D 60 44 54 42 31 F7"), 0},
        {"status character 00", StatusMessage(0x00), 0},
        {"a short message", FromHex("90 3C 64"), 0},
        {"nothing", Bytes{}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(
            ReadStatusCharacter(c.message.data(), static_cast<std::uint32_t>(c.message.size())),
            c.expected);
    }
}

TEST(HeardState, StatusCharactersStartRenewAndEndHeardPeriods) {
    struct Case {
        const char* reason;
        HeardState before;
        char c;
        HeardState after;
    };
    const Case cases[] = {
        {"silent device heard with 1", {0, 0}, '1', {500, '1'}},
        {"silent device heard with 0", {0, 0}, '0', {500, '0'}},
        {"renewed", {400, '1'}, '1', {500, '1'}},
        {"0 while heard with 1 keeps it heard", {400, '1'}, '0', {500, '0'}},
        {"2 while heard ends the period", {400, '1'}, '2', {0, 0}},
        {"2 while silent changes nothing", {0, 0}, '2', {0, 0}},
        {"after a disconnect the same character", {0, '1'}, '1', {500, '1'}},
        {"after a disconnect another character", {0, '1'}, '0', {500, '0'}},
        {"after a disconnect 2 clears the old character", {0, '1'}, '2', {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const HeardState after = ApplyStatusCharacter(c.before, c.c, 500);
        EXPECT_EQ(after.lastHeard, c.after.lastHeard);
        EXPECT_EQ(after.heardStatus, c.after.heardStatus);
    }
}

TEST(HeardState, SilenceEndsItAtThreeSecondsNotTwo) {
    struct Case {
        const char* reason;
        HeardState before;
        std::int64_t now;
        HeardState after;
    };
    const Case cases[] = {
        {"same second", {100, '1'}, 100, {100, '1'}},
        {"2 seconds", {100, '1'}, 102, {100, '1'}},
        {"3 seconds", {100, '0'}, 103, {0, 0}},
        {"long after", {100, '1'}, 1000, {0, 0}},
        {"clock set back", {100, '1'}, 40, {100, '1'}},
        {"silent already", {0, '1'}, 1000, {0, '1'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(ApplySilenceCheck(c.before, c.now), c.after);
    }
}

}  // namespace
