#include "tools/TestImage.h"

#include <algorithm>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>

#include "smf/CSMF.h"
#include "update/FirmwareMessages.h"

namespace zav::fw {

namespace {

// SplitMix64: small, fast and the same on every platform and standard library.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t m_state;
};

constexpr std::uint64_t kGapSeed = 0x5A41565F47415053ull;   // "ZAV_GAPS"
constexpr std::uint64_t kDataSeed = 0x5A41565F44415441ull;  // "ZAV_DATA"

// The reader counts "MTrk" at any offset of the file, so a block must not contain one.
constexpr std::string_view kTrackTag = "MTrk";

bool ContainsTrackTag(std::span<const std::uint8_t> bytes) {
    return std::search(bytes.begin(), bytes.end(), kTrackTag.begin(), kTrackTag.end()) !=
           bytes.end();
}

std::unique_ptr<MidiEvent> Meta(std::uint32_t tick, std::uint8_t type,
                                std::span<const std::uint8_t> data) {
    auto e = std::make_unique<MidiEvent>();
    e->kind = MidiEventKind::Meta;
    e->status = type;
    e->tick = tick;
    e->SetBytes(data);
    return e;
}

std::unique_ptr<MidiEvent> Text(std::uint32_t tick, std::uint8_t type, std::string_view text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return Meta(tick, type, bytes);
}

std::unique_ptr<MidiEvent> SysEx(std::uint32_t tick, std::span<const std::uint8_t> message) {
    auto e = std::make_unique<MidiEvent>();
    e->kind = MidiEventKind::SysEx;
    e->tick = tick;
    e->SetBytes(message);  // F0 ... F7, the form in which the reader gives it back
    return e;
}

constexpr std::uint8_t kMetaSequenceName = 0x03;
constexpr std::uint8_t kMetaSetTempo = 0x51;
constexpr std::uint8_t kMetaTimeSignature = 0x58;

}  // namespace

std::vector<std::uint32_t> TestImageBlockTicks() {
    // Gaps after the second block: mostly 53 with some spread, then nudged, one tick at a time
    // and spread over the whole row, until they sum to the documented span.
    constexpr std::size_t n = kTestImageBlockCount - 2;
    constexpr std::int64_t target = kTestImageLastBlockTick - kTestImageSecondBlockTick;
    static_assert(target >= std::int64_t{kTestImageMinGap} * n &&
                  target <= std::int64_t{kTestImageMaxGap} * n);

    SplitMix64 rng(kGapSeed);
    constexpr int kSpread[32] = {-2, -2, -1, -1, -1, 1, 1, 2, 3};  // the rest 0
    std::vector<std::uint32_t> gaps(n);
    std::int64_t sum = 0;
    for (auto& g : gaps) {
        g = static_cast<std::uint32_t>(53 + kSpread[rng.Next() % 32]);
        sum += g;
    }
    std::int64_t diff = target - sum;
    // A stride coprime with n visits every gap once per round; later rounds reach further.
    constexpr std::size_t kStride = 7;
    static_assert(n % kStride != 0);
    for (int round = 0; diff != 0; ++round) {
        const bool down = diff < 0;
        // Move gaps toward 53 first; only then away from it.
        const std::uint32_t limit = round < 3 ? 53 : (down ? kTestImageMinGap : kTestImageMaxGap);
        for (std::size_t k = 0; k < n && diff != 0; ++k) {
            auto& g = gaps[(k * kStride) % n];
            if (down && g > limit) {
                --g;
                ++diff;
            } else if (!down && g < limit) {
                ++g;
                --diff;
            }
        }
    }

    std::vector<std::uint32_t> ticks;
    ticks.reserve(kTestImageBlockCount);
    ticks.push_back(kTestImageFirstBlockTick);
    ticks.push_back(kTestImageSecondBlockTick);
    for (std::uint32_t g : gaps)
        ticks.push_back(ticks.back() + g);
    if (ticks.back() != kTestImageLastBlockTick)
        throw std::logic_error("block ticks do not add up");
    return ticks;
}

std::vector<std::vector<std::uint8_t>> TestImageBlockData() {
    SplitMix64 rng(kDataSeed);
    std::vector<std::vector<std::uint8_t>> blocks(kTestImageBlockCount);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const std::size_t size =
            b + 1 == blocks.size() ? kTestImageLastBlockData : kTestImageBlockData;
        auto& data = blocks[b];
        do {
            data.resize(size);
            for (auto& byte : data)
                byte = static_cast<std::uint8_t>(rng.Next() >> 57);
        } while (ContainsTrackTag(MakeDataBlockMessage(static_cast<std::uint16_t>(b), data)));
    }
    return blocks;
}

void BuildTestImage(CSMF& smf) {
    smf.m_header.m_format = 1;
    smf.m_header.m_trackCount = 2;
    smf.m_header.m_division = kTestImageDivision;

    auto tempoTrack = std::make_unique<CMidiTrack>();
    tempoTrack->AddEvent(Text(0, kMetaSequenceName, kTestImageName));
    const std::uint8_t tempo[] = {static_cast<std::uint8_t>(kTestImageTempo >> 16),
                                  static_cast<std::uint8_t>(kTestImageTempo >> 8),
                                  static_cast<std::uint8_t>(kTestImageTempo)};
    tempoTrack->AddEvent(Meta(0, kMetaSetTempo, tempo));
    const std::uint8_t fourFour[] = {0x04, 0x02, 0x18, 0x08};
    tempoTrack->AddEvent(Meta(0, kMetaTimeSignature, fourFour));

    auto dataTrack = std::make_unique<CMidiTrack>();
    dataTrack->AddEvent(Text(0, kMetaSequenceName, kTestImageDataTrackName));
    dataTrack->AddEvent(SysEx(kTestImageEraseTick, MakeEraseMessage(kTestImageEraseData)));
    const auto ticks = TestImageBlockTicks();
    const auto data = TestImageBlockData();
    for (std::size_t b = 0; b < kTestImageBlockCount; ++b) {
        dataTrack->AddEvent(
            SysEx(ticks[b], MakeDataBlockMessage(static_cast<std::uint16_t>(b), data[b])));
    }
    dataTrack->AddEvent(SysEx(kTestImageChecksumTick, MakeChecksumMessage(kTestImageChecksumData)));
    // The writer closes each track with its end-of-track event at the last event's tick.

    smf.m_tracks.push_back(std::move(tempoTrack));
    smf.m_tracks.push_back(std::move(dataTrack));
}

std::vector<std::uint8_t> MakeTestImage() {
    CSMF smf;
    BuildTestImage(smf);
    std::vector<std::uint8_t> file(smf.GetFileSize());
    std::uint32_t written = 0;
    smf.Write(file.data(), written);
    if (written != file.size() || file.size() != kTestImageSize) {
        throw std::logic_error("test image came out at " + std::to_string(written) + " bytes");
    }
    return file;
}

}  // namespace zav::fw
