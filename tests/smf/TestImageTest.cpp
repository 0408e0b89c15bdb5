#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "resources/TestImage.h"
#include "smf/CSMF.h"
#include "tests/smf/SmfFixtures.h"
#include "tests/support/Bytes.h"

namespace {

using zav::test::Bytes;
using zav::test::Describe;
using zav::test::ToHex;

class TestImage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            m_smf.Load(m_image.data(), static_cast<std::uint32_t>(m_image.size()), m_consumed));
    }

    std::span<const std::uint8_t> m_image = zav::fw::TestImage();
    CSMF m_smf;
    std::uint32_t m_consumed = 0;
};

TEST_F(TestImage, LoadsWholeWithItsHeaderAndTempoTrack) {
    EXPECT_EQ(m_image.size(), 1252340u);
    EXPECT_EQ(m_consumed, 1252340u);
    EXPECT_EQ(m_smf.m_header.m_format, 1);
    EXPECT_EQ(m_smf.m_header.m_trackCount, 2);
    EXPECT_EQ(m_smf.m_header.m_division, 480);
    ASSERT_EQ(m_smf.m_tracks.size(), 2u);
    const CMidiTrack& tempoTrack = *m_smf.m_tracks[0];
    ASSERT_EQ(tempoTrack.m_events.size(), 3u);
    // The sequence name's text is the image's own; its place and type are what count.
    EXPECT_EQ(tempoTrack.m_events[0]->kind, MidiEventKind::Meta);
    EXPECT_EQ(tempoTrack.m_events[0]->status, 0x03);
    EXPECT_EQ(tempoTrack.m_events[0]->tick, 0u);
    EXPECT_GT(tempoTrack.m_events[0]->length, 0u);
    EXPECT_EQ(Describe(*tempoTrack.m_events[1]), "Meta 51 @0 [07 A1 20]");
    EXPECT_EQ(Describe(*tempoTrack.m_events[2]), "Meta 58 @0 [04 02 18 08]");
}

TEST_F(TestImage, DataTrackHoldsEveryMessageComplete) {
    ASSERT_EQ(m_smf.m_tracks.size(), 2u);
    const auto& events = m_smf.m_tracks[1]->m_events;
    ASSERT_EQ(events.size(), 1u + 2343u);
    EXPECT_EQ(events[0]->kind, MidiEventKind::Meta);
    EXPECT_EQ(events[0]->status, 0x03);
    EXPECT_EQ(events[0]->tick, 0u);

    std::uint32_t previousTick = 0;
    for (std::size_t i = 1; i < events.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i));
        const MidiEvent& e = *events[i];
        ASSERT_EQ(e.kind, MidiEventKind::SysEx);
        EXPECT_EQ(e.status, 0);
        // The F0 is restored in front, so each record is the message as it goes on the wire.
        ASSERT_GE(e.length, 5u);
        EXPECT_EQ(ToHex(e.Bytes().first(3)), "F0 43 7D");
        EXPECT_EQ(e.data[e.length - 1], 0xF7);
        EXPECT_GE(e.tick, previousTick);
        previousTick = e.tick;
    }
    EXPECT_EQ(events[1]->tick, 3u);
    EXPECT_EQ(events[1]->length, 15u);
    EXPECT_EQ(events[1]->data[3], 0x30);
    EXPECT_EQ(events[2]->tick, 15365u);
    EXPECT_EQ(events[2]->length, 532u);
    EXPECT_EQ(events.back()->tick, 140374u);
    EXPECT_EQ(events.back()->length, 14u);
    EXPECT_EQ(events.back()->data[3], 0x70);
}

TEST_F(TestImage, WriteReproducesTheImage) {
    ASSERT_EQ(m_smf.GetFileSize(), m_image.size());
    Bytes out(m_smf.GetFileSize());
    std::uint32_t counter = 0;
    ASSERT_TRUE(m_smf.Write(out.data(), counter));
    EXPECT_EQ(counter, m_image.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), m_image.begin(), m_image.end()));
}

}  // namespace
