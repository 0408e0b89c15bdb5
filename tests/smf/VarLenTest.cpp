#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "smf/VarLen.h"
#include "tests/support/Bytes.h"

namespace {

using zav::test::Bytes;
using zav::test::FromHex;
using zav::test::ToHex;

TEST(ReadVarLen, ReadsQuantitiesOfAnyWidth) {
    struct Case {
        const char* hex;
        std::uint32_t value;
        std::uint32_t read;
    };
    const Case cases[] = {
        {"00", 0, 1},
        {"7F", 127, 1},
        {"81 00", 128, 2},
        {"FF 7F", 16383, 2},
        {"83 FF 7F", 65535, 3},
        {"84 80 00", 65536, 3},
        {"FF FF FF 7F", 0x0FFFFFFF, 4},
        {"8F FF FF FF 7F", 0xFFFFFFFF, 5},
        // Groups above bit 31 are shifted out.
        {"81 80 80 80 80 05", 5, 6},
        // Reading stops at the first byte without bit 7.
        {"40 7F 7F", 0x40, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        const Bytes bytes = FromHex(c.hex);
        std::uint32_t value = 0;
        std::uint32_t read = 0;
        ASSERT_TRUE(
            ReadVarLen(bytes.data(), static_cast<std::uint32_t>(bytes.size()), value, read));
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(read, c.read);
    }
}

TEST(ReadVarLen, FailsWhenTheQuantityRunsOffTheEnd) {
    for (const char* hex : {"", "80", "FF FF FF", "8F FF FF FF FF"}) {
        SCOPED_TRACE(hex);
        const Bytes bytes = FromHex(hex);
        std::uint32_t value = 77;
        std::uint32_t read = 77;
        EXPECT_FALSE(
            ReadVarLen(bytes.data(), static_cast<std::uint32_t>(bytes.size()), value, read));
        EXPECT_EQ(value, 77u);
        EXPECT_EQ(read, 77u);
    }
    // The limit is the count given, not the end of the array.
    const Bytes bytes = FromHex("81 00");
    std::uint32_t value = 0;
    std::uint32_t read = 0;
    EXPECT_FALSE(ReadVarLen(bytes.data(), 1, value, read));
}

TEST(WriteVarLen, WritesMinimalWidthAndReadsBack) {
    struct Case {
        std::uint32_t value;
        const char* hex;
    };
    const Case cases[] = {
        {0, "00"},
        {127, "7F"},
        {128, "81 00"},
        {16383, "FF 7F"},
        {16384, "81 80 00"},
        {0x1FFFFF, "FF FF 7F"},
        {0x200000, "81 80 80 00"},
        {0x0FFFFFFF, "FF FF FF 7F"},
        {0x10000000, "81 80 80 80 00"},
        {0xFFFFFFFF, "8F FF FF FF 7F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        const std::uint32_t width = VarLenSize(c.value);
        Bytes out(width + 1, 0xEE);
        WriteVarLen(c.value, width, out.data());
        EXPECT_EQ(out.back(), 0xEE) << "wrote past its width";
        out.pop_back();
        EXPECT_EQ(ToHex(out), c.hex);

        std::uint32_t value = 0;
        std::uint32_t read = 0;
        ASSERT_TRUE(ReadVarLen(out.data(), width, value, read));
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(read, width);
    }
}

TEST(WriteVarLen, PadsToAWiderWidth) {
    Bytes out(4);
    WriteVarLen(0x40, 4, out.data());
    EXPECT_EQ(ToHex(out), "80 80 80 40");
}

}  // namespace
