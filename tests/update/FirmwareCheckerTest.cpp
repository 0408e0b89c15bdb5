#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Bytes.h"
#include "update/FirmwareChecker.h"

namespace {

using zav::fw::FaultKind;
using zav::fw::FirmwareChecker;
using zav::test::Bytes;
using zav::test::FromHex;

// A stream written as words: E erase, Bn data block n, C checksum, S status message, X garbage.
std::vector<Bytes> Stream(const std::string& words) {
    std::vector<Bytes> out;
    std::size_t at = 0;
    while (at < words.size()) {
        std::size_t end = words.find(' ', at);
        if (end == std::string::npos)
            end = words.size();
        const std::string w = words.substr(at, end - at);
        at = end + 1;
        if (w == "E") {
            out.push_back(zav::fw::MakeEraseMessage(0x02));
        } else if (w == "C") {
            out.push_back(zav::fw::MakeChecksumMessage(0x39));
        } else if (w == "S") {
            out.push_back(zav::fw::MakeStatusMessage('1'));
        } else if (w == "X") {
            out.push_back(FromHex("90 3C 40"));
        } else if (!w.empty() && w[0] == 'B') {
            const auto n = static_cast<std::uint16_t>(std::stoi(w.substr(1)));
            out.push_back(zav::fw::MakeDataBlockMessage(n, FromHex("01 02 03 04")));
        }
    }
    return out;
}

// Feeds each message at position 100 * index and finishes.
FirmwareChecker Check(const std::vector<Bytes>& messages) {
    FirmwareChecker checker;
    for (std::size_t i = 0; i < messages.size(); ++i)
        checker.Feed(messages[i], 100 * i);
    checker.Finish();
    return checker;
}

struct Expected {
    FaultKind kind;
    std::size_t index;
    std::optional<std::uint16_t> block;
};

std::string Summary(const FirmwareChecker& checker) {
    std::string out;
    for (const auto& f : checker.Faults())
        out += zav::fw::Describe(f) + "\n";
    return out;
}

TEST(FirmwareChecker, CleanUpdate) {
    const auto checker = Check(Stream("E B0 B1 B2 B3 C"));
    EXPECT_TRUE(checker.Clean()) << Summary(checker);
    EXPECT_EQ(checker.MessageCount(), 6u);
    EXPECT_EQ(checker.BlockCount(), 4u);
    EXPECT_TRUE(checker.EraseSeen());
    EXPECT_TRUE(checker.ChecksumSeen());
}

TEST(FirmwareChecker, RecordsOrderFaults) {
    using F = FaultKind;
    const struct {
        std::string stream;
        std::vector<Expected> faults;
    } cases[] = {
        // A missing erase is reported once, not for every message after it.
        {"B0 B1 C", {{F::Order, 0, 0}}},
        {"B0 C", {{F::Order, 0, 0}}},
        {"E B0 E B1 C", {{F::Order, 2, {}}}},
        {"B0 E B1 C", {{F::Order, 0, 0}, {F::Order, 1, {}}}},
        {"E B1 B2 C", {{F::BlockNumber, 1, 1}}},
        // One lost block is one fault: numbering picks up from the block received.
        {"E B0 B2 B3 C", {{F::BlockNumber, 2, 2}}},
        {"E B0 B0 B1 C", {{F::BlockNumber, 2, 0}}},
        {"E B0 B2 B1 C", {{F::BlockNumber, 2, 2}, {F::BlockNumber, 3, 1}}},
        {"E C", {{F::Order, 1, {}}}},
        {"C", {{F::Order, 0, {}}}},
        {"E B0 C B1", {{F::AfterChecksum, 3, 1}}},
        {"E B0 C C", {{F::AfterChecksum, 3, {}}}},
        {"E B0 C E", {{F::AfterChecksum, 3, {}}}},
        {"E B0 B1", {{F::MissingChecksum, 3, {}}}},
        {"", {{F::MissingChecksum, 0, {}}}},
        {"E S B0 C", {{F::Framing, 1, {}}}},
        {"E B0 X C", {{F::Framing, 2, {}}}},
        {"E B0 C S", {{F::Framing, 3, {}}, {F::AfterChecksum, 3, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("stream: " + c.stream);
        const auto checker = Check(Stream(c.stream));
        SCOPED_TRACE(Summary(checker));
        ASSERT_EQ(checker.Faults().size(), c.faults.size());
        for (std::size_t i = 0; i < c.faults.size(); ++i) {
            const auto& got = checker.Faults()[i];
            EXPECT_EQ(got.kind, c.faults[i].kind) << i;
            EXPECT_EQ(got.index, c.faults[i].index) << i;
            EXPECT_EQ(got.block, c.faults[i].block) << i;
        }
    }
}

TEST(FirmwareChecker, RecordsContentFaultsWithBlockAndPosition) {
    auto messages = Stream("E B0 B1 B2 C");
    messages[1][messages[1].size() - 2] ^= 0x01;  // check byte of block 0
    messages[2][5] = 0x00;                        // length field of block 1
    messages[3][3] = 0x41;                        // command byte of block 2

    FirmwareChecker checker;
    const std::uint64_t ticks[] = {3, 15365, 15418, 15471, 16664};
    for (std::size_t i = 0; i < messages.size(); ++i)
        checker.Feed(messages[i], ticks[i]);
    checker.Finish();

    const auto& faults = checker.Faults();
    ASSERT_EQ(faults.size(), 3u) << Summary(checker);
    EXPECT_EQ(faults[0].kind, FaultKind::CheckByte);
    EXPECT_EQ(faults[0].block, 0);
    EXPECT_EQ(faults[0].position, 15365u);
    EXPECT_EQ(faults[1].kind, FaultKind::LengthField);
    EXPECT_EQ(faults[1].block, 1);
    EXPECT_EQ(faults[1].index, 2u);
    EXPECT_EQ(faults[2].kind, FaultKind::Framing);
    EXPECT_EQ(faults[2].block, 2);
    EXPECT_EQ(faults[2].position, 15471u);
    EXPECT_EQ(checker.BlockCount(), 3u);

    EXPECT_EQ(zav::fw::Describe(faults[0]),
              "message 1 (block 0) at 15365: check byte 46, expected 47");
}

TEST(FirmwareChecker, MissingChecksumIsRecordedOnceAtTheLastPosition) {
    FirmwareChecker checker;
    for (const auto& m : Stream("E B0"))
        checker.Feed(m, 42);
    checker.Finish();
    checker.Finish();
    ASSERT_EQ(checker.Faults().size(), 1u);
    EXPECT_EQ(checker.Faults()[0].kind, FaultKind::MissingChecksum);
    EXPECT_EQ(checker.Faults()[0].position, 42u);
    EXPECT_EQ(zav::fw::Describe(checker.Faults()[0]),
              "message 2 at 42: no checksum message after 2 messages");
}

}  // namespace
