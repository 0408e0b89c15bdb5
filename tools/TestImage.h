#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class CSMF;

// The synthetic firmware image that the build embeds in place of a real firmware: the layout of a
// real image (format 1, a tempo track and a data track of erase, blocks and checksum at the same
// ticks and sizes), with deterministic pseudo-random data bytes.
namespace zav::fw {

inline constexpr std::string_view kTestImageName = "ZAV_TEST_IMAGE_v104";
inline constexpr std::string_view kTestImageDataTrackName = "ZAV104";
inline constexpr std::uint16_t kTestImageDivision = 480;
inline constexpr std::uint32_t kTestImageTempo = 500000;  // µs per quarter note: 07 A1 20
inline constexpr std::uint8_t kTestImageEraseData = 0x02;
inline constexpr std::uint8_t kTestImageChecksumData = 0x39;

inline constexpr std::uint32_t kTestImageEraseTick = 3;
inline constexpr std::uint32_t kTestImageFirstBlockTick = 15365;
inline constexpr std::uint32_t kTestImageSecondBlockTick = 15418;
inline constexpr std::uint32_t kTestImageLastBlockTick = 139181;
inline constexpr std::uint32_t kTestImageChecksumTick = 140374;
inline constexpr std::uint32_t kTestImageMinGap = 51;
inline constexpr std::uint32_t kTestImageMaxGap = 56;

inline constexpr std::size_t kTestImageBlockCount = 2341;
inline constexpr std::size_t kTestImageBlockData = 514;
inline constexpr std::size_t kTestImageLastBlockData = 298;
inline constexpr std::size_t kTestImageSize = 1252340;

// The tick of every data block, in block order.
std::vector<std::uint32_t> TestImageBlockTicks();

// The data bytes of every block, in block order: 7-bit values from a fixed seed.
std::vector<std::vector<std::uint8_t>> TestImageBlockData();

// Fills an empty document with the test image's header and tracks.
void BuildTestImage(CSMF& smf);

// The test image as a file: exactly kTestImageSize bytes.
std::vector<std::uint8_t> MakeTestImage();

}  // namespace zav::fw
