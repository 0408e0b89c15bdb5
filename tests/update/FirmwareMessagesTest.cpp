#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/Bytes.h"
#include "update/FirmwareMessages.h"

namespace {

using zav::fw::ClassifyMessage;
using zav::fw::MessageKind;
using zav::test::Ascii;
using zav::test::Bytes;
using zav::test::Concat;
using zav::test::FromHex;
using zav::test::ToHex;

Bytes Filled(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

TEST(FirmwareMessages, WorkedDataBlockExample) {
    const Bytes expected =
        Concat({FromHex("F0 43 7D 40 00 0C"), Ascii("DTA1MAIN"), FromHex("00 01 10 20 20 F7")});
    const Bytes built = zav::fw::MakeDataBlockMessage(1, FromHex("10 20"));
    ASSERT_EQ(ToHex(built), ToHex(expected));
    ASSERT_EQ(built.size(), 20u);

    const auto info = ClassifyMessage(built);
    EXPECT_EQ(info.kind, MessageKind::DataBlock);
    EXPECT_TRUE(info.Ok());
    EXPECT_EQ(info.block, 1);
    EXPECT_EQ(info.lengthField, 12);
    EXPECT_EQ(info.storedCheck, 0x20);
    EXPECT_EQ(ToHex(info.data), "10 20");
}

TEST(FirmwareMessages, FixedMessagesAreBuiltAsOnTheWire) {
    EXPECT_EQ(ToHex(zav::fw::MakeEraseMessage(0x02)),
              ToHex(Concat({FromHex("F0 43 7D 30"), Ascii("DTA1ERASE"), FromHex("02 F7")})));
    EXPECT_EQ(ToHex(zav::fw::MakeChecksumMessage(0x39)),
              ToHex(Concat({FromHex("F0 43 7D 70"), Ascii("DTA1CSUM"), FromHex("39 F7")})));
    EXPECT_EQ(ToHex(zav::fw::MakeStatusMessage('1')), "F0 43 7D 60 44 54 41 31 F7");
    EXPECT_EQ(ToHex(zav::fw::MakeStatusMessage('0', FromHex("01 02"), 0x6F)),
              "F0 43 7D 6F 44 54 41 30 01 02 F7");
}

TEST(FirmwareMessages, CheckByteCompletesAMultipleOf128) {
    const struct {
        Bytes span;
        std::uint8_t check;
    } cases[] = {
        {{}, 0x00},
        {FromHex("01"), 0x7F},
        {FromHex("7F 01"), 0x00},
        {FromHex("7F 7F 7F"), 0x03},
        {Concat({Ascii("DTA1MAIN"), FromHex("00 01 10 20")}), 0x20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToHex(c.span));
        EXPECT_EQ(zav::fw::CheckByte(c.span), c.check);
    }
}

TEST(FirmwareMessages, BuildersRefuseWhatDoesNotFitTheWire) {
    EXPECT_THROW(zav::fw::MakeDataBlockMessage(0x4000, FromHex("00")), std::invalid_argument);
    EXPECT_THROW(zav::fw::MakeDataBlockMessage(0, FromHex("00 80")), std::invalid_argument);
    EXPECT_THROW(zav::fw::MakeDataBlockMessage(0, Filled(zav::fw::kMaxBlockData + 1, 0)),
                 std::invalid_argument);
    EXPECT_NO_THROW(zav::fw::MakeDataBlockMessage(0x3FFF, Filled(zav::fw::kMaxBlockData, 0x7F)));
    EXPECT_THROW(zav::fw::MakeEraseMessage(0x80), std::invalid_argument);
    EXPECT_THROW(zav::fw::MakeChecksumMessage(0xF7), std::invalid_argument);
    EXPECT_THROW(zav::fw::MakeStatusMessage('1', {}, 0x70), std::invalid_argument);
}

// Replaces the byte at `at` (from the end when negative).
Bytes With(Bytes m, int at, std::uint8_t value) {
    m[at < 0 ? m.size() + at : static_cast<std::size_t>(at)] = value;
    return m;
}

Bytes Without(Bytes m, int at) {
    m.erase(m.begin() + (at < 0 ? static_cast<long>(m.size()) + at : at));
    return m;
}

struct ClassifyCase {
    std::string name;
    Bytes message;
    MessageKind kind;
    bool framingOk, lengthOk, checkOk;
    std::optional<std::uint16_t> block;
};

TEST(FirmwareMessages, ClassifiesGoodAndFaultyMessages) {
    using K = MessageKind;
    const Bytes erase = zav::fw::MakeEraseMessage(0x02);
    const Bytes checksum = zav::fw::MakeChecksumMessage(0x39);
    const Bytes block0 = zav::fw::MakeDataBlockMessage(0, Filled(514, 0x55));
    const Bytes last = zav::fw::MakeDataBlockMessage(2340, Filled(298, 0x2A));
    const Bytes small = zav::fw::MakeDataBlockMessage(7, FromHex("01 02 03"));
    const Bytes status = zav::fw::MakeStatusMessage('1');

    const ClassifyCase cases[] = {
        {"erase", erase, K::Erase, true, true, true, {}},
        {"checksum", checksum, K::Checksum, true, true, true, {}},
        {"full block", block0, K::DataBlock, true, true, true, 0},
        {"last block", last, K::DataBlock, true, true, true, 2340},
        {"empty block", zav::fw::MakeDataBlockMessage(3, {}), K::DataBlock, true, true, true, 3},
        {"status 60", status, K::Status, true, true, true, {}},
        {"status 6F", With(status, 3, 0x6F), K::Status, true, true, true, {}},
        {"status of 8 bytes", Without(status, 7), K::Status, false, true, true, {}},
        {"status without tag", With(status, 5, 'X'), K::Status, false, true, true, {}},
        {"command 50", With(status, 3, 0x50), K::Other, false, true, true, {}},
        {"other maker", With(erase, 1, 0x41), K::Other, false, true, true, {}},
        {"sub-id 7E", With(erase, 2, 0x7E), K::Other, false, true, true, {}},
        {"three bytes", FromHex("F0 43 7D"), K::Other, false, true, true, {}},
        {"empty", {}, K::Other, false, true, true, {}},
        {"erase short", Without(erase, -2), K::Erase, false, true, true, {}},
        {"erase long",
         Concat({Without(erase, -1), FromHex("00 F7")}),
         K::Erase,
         false,
         true,
         true,
         {}},
        {"erase command 31", With(erase, 3, 0x31), K::Erase, false, true, true, {}},
        {"erase bad tag", With(erase, 12, 'F'), K::Erase, false, true, true, {}},
        {"erase no F7", With(erase, -1, 0x7F), K::Erase, false, true, true, {}},
        {"checksum 8-bit data", With(checksum, -2, 0x80), K::Checksum, false, true, true, {}},
        {"block bad length", With(small, 5, 0x0E), K::DataBlock, true, false, true, 7},
        {"block bad check", With(small, -2, 0x00), K::DataBlock, true, true, false, 7},
        // 0x80 more keeps the sum modulo 128, so only the framing shows it.
        {"block 8-bit data", With(small, 16, 0x81), K::DataBlock, false, true, true, 7},
        {"block bad tag", With(small, 6, 'X'), K::DataBlock, false, true, false, 7},
        {"block command 4F", With(small, 3, 0x4F), K::DataBlock, false, true, true, 7},
        {"block of 17 bytes", Bytes(small.begin(), small.begin() + 17), K::DataBlock, false, true,
         true, 7},
        {"block cut before number",
         Bytes(small.begin(), small.begin() + 15),
         K::DataBlock,
         false,
         true,
         true,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + ": " + ToHex(c.message));
        const auto info = ClassifyMessage(c.message);
        EXPECT_EQ(info.kind, c.kind);
        EXPECT_EQ(info.framingOk, c.framingOk);
        EXPECT_EQ(info.lengthOk, c.lengthOk);
        EXPECT_EQ(info.checkOk, c.checkOk);
        EXPECT_EQ(info.block, c.block);
        EXPECT_EQ(info.Ok(), c.framingOk && c.lengthOk && c.checkOk);
    }
}

TEST(FirmwareMessages, ImageBlockSizesAndPayloads) {
    const Bytes block0 = zav::fw::MakeDataBlockMessage(0, Filled(514, 0x55));
    const Bytes last = zav::fw::MakeDataBlockMessage(2340, Filled(298, 0x2A));
    EXPECT_EQ(block0.size(), 532u);
    EXPECT_EQ(ToHex(std::span(block0).subspan(4, 2)), "04 0C");
    EXPECT_EQ(last.size(), 316u);
    EXPECT_EQ(ToHex(std::span(last).subspan(4, 2)), "02 34");
    EXPECT_EQ(ToHex(std::span(last).subspan(14, 2)), "12 24");  // 2340 = 18 * 128 + 36

    EXPECT_EQ(ClassifyMessage(block0).data.size(), 514u);
    EXPECT_EQ(ToHex(ClassifyMessage(zav::fw::MakeEraseMessage(0x02)).data), "02");
    EXPECT_EQ(ToHex(ClassifyMessage(zav::fw::MakeChecksumMessage(0x39)).data), "39");
    EXPECT_EQ(ToHex(ClassifyMessage(zav::fw::MakeStatusMessage('0')).data), "30");
}

}  // namespace
