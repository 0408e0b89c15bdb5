#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "smf/CSMF.h"
#include "tests/support/Bytes.h"
#include "tools/TestImage.h"
#include "update/FirmwareMessages.h"

namespace {

using zav::test::Ascii;
using zav::test::ToHex;

// The image is made and loaded once for all the layout tests.
class TestImageLayout : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_file = std::make_unique<std::vector<std::uint8_t>>(zav::fw::MakeTestImage());
        s_smf = std::make_unique<CSMF>();
        s_consumed = 0;
        s_loads =
            s_smf->Load(s_file->data(), static_cast<std::uint32_t>(s_file->size()), s_consumed);
    }
    static void TearDownTestSuite() {
        s_smf.reset();
        s_file.reset();
    }

    static inline std::unique_ptr<std::vector<std::uint8_t>> s_file;
    static inline std::unique_ptr<CSMF> s_smf;
    static inline std::uint32_t s_consumed = 0;
    static inline bool s_loads = false;
};

TEST_F(TestImageLayout, HeaderAndTempoTrack) {
    ASSERT_EQ(s_file->size(), 1252340u);
    ASSERT_TRUE(s_loads);
    EXPECT_EQ(s_consumed, 1252340u);
    EXPECT_EQ(s_smf->m_header.m_format, 1);
    EXPECT_EQ(s_smf->m_header.m_trackCount, 2);
    EXPECT_EQ(s_smf->m_header.m_division, 480);
    ASSERT_EQ(s_smf->m_tracks.size(), 2u);

    const auto& tempo = s_smf->m_tracks[0]->m_events;
    ASSERT_EQ(tempo.size(), 3u);
    const struct {
        std::uint8_t type;
        std::string hex;
    } expected[] = {
        {0x03, ToHex(Ascii("ZAV_TEST_IMAGE_v104"))},
        {0x51, "07 A1 20"},
        {0x58, "04 02 18 08"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tempo[i]->kind, MidiEventKind::Meta);
        EXPECT_EQ(tempo[i]->status, expected[i].type);
        EXPECT_EQ(tempo[i]->tick, 0u);
        EXPECT_EQ(ToHex(tempo[i]->Bytes()), expected[i].hex);
    }
    // The name must be as long as a real image's, or the file size would differ.
    EXPECT_EQ(tempo[0]->length, 19u);
    EXPECT_EQ(zav::fw::kTestImageName.size(), 19u);
}

TEST_F(TestImageLayout, DataTrackMessagesAndTicks) {
    ASSERT_TRUE(s_loads);
    const auto& events = s_smf->m_tracks[1]->m_events;
    ASSERT_EQ(events.size(), 1u + 1u + 2341u + 1u);

    EXPECT_EQ(events[0]->kind, MidiEventKind::Meta);
    EXPECT_EQ(events[0]->status, 0x03);
    EXPECT_EQ(events[0]->tick, 0u);
    EXPECT_EQ(ToHex(events[0]->Bytes()), ToHex(Ascii("ZAV104")));

    const auto erase = zav::fw::ClassifyMessage(events[1]->Bytes());
    EXPECT_EQ(erase.kind, zav::fw::MessageKind::Erase);
    EXPECT_TRUE(erase.Ok());
    EXPECT_EQ(ToHex(erase.data), "02");
    EXPECT_EQ(events[1]->tick, 3u);

    std::set<std::uint8_t> values;
    for (std::size_t b = 0; b < 2341; ++b) {
        const auto& e = *events[2 + b];
        const auto info = zav::fw::ClassifyMessage(e.Bytes());
        SCOPED_TRACE("block " + std::to_string(b));
        ASSERT_EQ(e.kind, MidiEventKind::SysEx);
        ASSERT_EQ(info.kind, zav::fw::MessageKind::DataBlock);
        ASSERT_TRUE(info.Ok());
        ASSERT_EQ(info.block, b);
        ASSERT_EQ(e.length, b == 2340 ? 316u : 532u);
        values.insert(info.data.begin(), info.data.end());
    }
    // Pseudo-random 7-bit data: every value turns up somewhere.
    EXPECT_EQ(values.size(), 128u);
    EXPECT_EQ(*values.rbegin(), 0x7F);

    const auto checksum = zav::fw::ClassifyMessage(events.back()->Bytes());
    EXPECT_EQ(checksum.kind, zav::fw::MessageKind::Checksum);
    EXPECT_TRUE(checksum.Ok());
    EXPECT_EQ(ToHex(checksum.data), "39");
    EXPECT_EQ(events.back()->tick, 140374u);

    // The end of track follows the checksum at delta 0: the file ends 39 F7 00 FF 2F 00.
    EXPECT_EQ(ToHex(std::span(*s_file).last(6)), "39 F7 00 FF 2F 00");
}

TEST_F(TestImageLayout, BlockGaps) {
    ASSERT_TRUE(s_loads);
    const auto& events = s_smf->m_tracks[1]->m_events;
    const auto ticks = zav::fw::TestImageBlockTicks();
    ASSERT_EQ(ticks.size(), 2341u);
    EXPECT_EQ(ticks.front(), 15365u);
    EXPECT_EQ(ticks[1], 15418u);
    EXPECT_EQ(ticks.back(), 139181u);

    std::size_t gaps53 = 0;
    std::set<std::uint32_t> seen;
    for (std::size_t b = 0; b < ticks.size(); ++b) {
        ASSERT_EQ(events[2 + b]->tick, ticks[b]) << "block " << b;
        if (b == 0)
            continue;
        const std::uint32_t gap = ticks[b] - ticks[b - 1];
        ASSERT_GE(gap, 51u) << "block " << b;
        ASSERT_LE(gap, 56u) << "block " << b;
        seen.insert(gap);
        gaps53 += gap == 53;
    }
    EXPECT_GT(gaps53, ticks.size() / 2);
    EXPECT_GT(seen.size(), 2u);  // the gaps do vary
    EXPECT_EQ(events.back()->tick - ticks.back(), 1193u);
}

TEST_F(TestImageLayout, LoadsBackToTheEventsItWasBuiltFrom) {
    ASSERT_TRUE(s_loads);
    CSMF built;
    zav::fw::BuildTestImage(built);
    ASSERT_EQ(built.m_tracks.size(), s_smf->m_tracks.size());
    for (std::size_t t = 0; t < built.m_tracks.size(); ++t) {
        const auto& want = built.m_tracks[t]->m_events;
        const auto& got = s_smf->m_tracks[t]->m_events;
        ASSERT_EQ(got.size(), want.size()) << "track " << t;
        for (std::size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE("track " + std::to_string(t) + " event " + std::to_string(i));
            EXPECT_EQ(got[i]->tick, want[i]->tick);
            EXPECT_EQ(got[i]->kind, want[i]->kind);
            EXPECT_EQ(got[i]->status, want[i]->status);
            ASSERT_TRUE(std::ranges::equal(got[i]->Bytes(), want[i]->Bytes()));
        }
    }
    // And writing the loaded document reproduces the file.
    std::vector<std::uint8_t> again(s_smf->GetFileSize());
    std::uint32_t written = 0;
    s_smf->Write(again.data(), written);
    EXPECT_EQ(written, s_file->size());
    EXPECT_TRUE(again == *s_file);
}

}  // namespace
