#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "resources/FirmwareImage.h"
#include "resources/TestImage.h"
#include "smf/CSMF.h"
#include "tools/TestImage.h"

namespace {

std::vector<std::uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

TEST(EmbeddedImage, TestImageEqualsTheGeneratedFile) {
    const auto embedded = zav::fw::TestImage();
    ASSERT_EQ(embedded.size(), zav::fw::kTestImageSize);
    EXPECT_TRUE(Same(embedded, ReadFile(ZAV_TEST_IMAGE_FILE)));
    EXPECT_TRUE(Same(embedded, zav::fw::MakeTestImage()));
    // The same bytes on every call, not a fresh copy.
    EXPECT_EQ(zav::fw::TestImage().data(), embedded.data());
}

TEST(EmbeddedImage, FirmwareEqualsItsSourceAndLoads) {
    const auto firmware = zav::fw::EmbeddedFirmwareImage();
    EXPECT_TRUE(Same(firmware, ReadFile(ZAV_EMBEDDED_FIRMWARE_FILE)));

    CSMF smf;
    std::uint32_t consumed = 0;
    ASSERT_TRUE(smf.Load(firmware.data(), static_cast<std::uint32_t>(firmware.size()), consumed));
    EXPECT_GT(consumed, 14u);
    EXPECT_LE(consumed, firmware.size());
    EXPECT_FALSE(smf.m_tracks.empty());
}

}  // namespace
