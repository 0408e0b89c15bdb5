#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "emulator/ZavDevice.h"
#include "resources/TestImage.h"
#include "smf/CSMF.h"
#include "tests/support/Bytes.h"
#include "tools/TestImage.h"
#include "update/FirmwareMessages.h"

namespace {

using zav::emulator::Mode;
using zav::emulator::Model;
using zav::emulator::ZavDevice;
using zav::fw::FaultKind;
using zav::test::Bytes;
using zav::test::ToHex;

std::vector<std::uint32_t> Times(const std::vector<zav::emulator::Emission>& emissions) {
    std::vector<std::uint32_t> out;
    for (const auto& e : emissions)
        out.push_back(e.atMs);
    return out;
}

using Ms = std::vector<std::uint32_t>;

TEST(ZavDevice, ModelNames) {
    EXPECT_EQ(zav::emulator::ModelName(Model::ZAV5), "ZAV5");
    EXPECT_EQ(zav::emulator::ModelName(Model::ZAV10), "ZAV10");
    EXPECT_EQ(ZavDevice(Model::ZAV10).GetModel(), Model::ZAV10);
}

TEST(ZavDevice, NormalModeSpeaksEveryPeriod) {
    ZavDevice device(Model::ZAV5, 1000);
    EXPECT_EQ(device.GetMode(), Mode::Normal);
    EXPECT_TRUE(device.Poll(1499).empty());
    const auto first = device.Poll(1500);
    ASSERT_EQ(Times(first), Ms{1500});
    EXPECT_EQ(ToHex(first[0].bytes), "F0 43 7D 60 44 54 41 31 F7");
    // Polled late, the device owes every message of the time between.
    EXPECT_EQ(Times(device.Poll(2600)), (Ms{2000, 2500}));
    EXPECT_TRUE(device.Poll(2600).empty());

    device.SetStatusPeriod(200);  // the next message comes 200 after the last
    device.SetStatusCharacter('0');
    const auto after = device.Poll(2900);
    EXPECT_EQ(Times(after), (Ms{2700, 2900}));
    EXPECT_EQ(ToHex(after[0].bytes), "F0 43 7D 60 44 54 41 30 F7");
    EXPECT_THROW(device.SetStatusPeriod(0), std::invalid_argument);
}

TEST(ZavDevice, StatusTimesCarryAcrossTheClockWrap) {
    ZavDevice device(Model::ZAV5, 0xFFFFFF00u);
    EXPECT_TRUE(device.Poll(0xFFFFFFFFu).empty());
    EXPECT_EQ(Times(device.Poll(0x000001F4u)), (Ms{0x000000F4u}));
    EXPECT_EQ(Times(device.Poll(0x000003E8u)), (Ms{0x000002E8u}));
}

TEST(ZavDevice, ModeChangesAsAUserMakesThem) {
    ZavDevice device(Model::ZAV5, 0);
    EXPECT_TRUE(device.SwitchToUpdateMode());
    EXPECT_EQ(device.GetMode(), Mode::Update);
    EXPECT_TRUE(device.Poll(10000).empty());  // silent in update mode
    EXPECT_FALSE(device.SwitchToUpdateMode());

    device.PowerCycle(10000);
    EXPECT_EQ(device.GetMode(), Mode::Normal);
    EXPECT_TRUE(device.Poll(10499).empty());  // the statuses it missed are not owed
    EXPECT_EQ(Times(device.Poll(10500)), Ms{10500});

    device.Unplug();
    EXPECT_EQ(device.GetMode(), Mode::Unplugged);
    EXPECT_TRUE(device.Poll(20000).empty());
    EXPECT_FALSE(device.SwitchToUpdateMode());
    device.PowerCycle(20000);  // no power without a cable
    EXPECT_EQ(device.GetMode(), Mode::Unplugged);
    device.Receive(zav::fw::MakeEraseMessage(2), 20000);

    device.Replug(30000);
    EXPECT_EQ(device.GetMode(), Mode::Normal);
    EXPECT_EQ(Times(device.Poll(30500)), Ms{30500});
    device.Receive(zav::fw::MakeEraseMessage(2), 30600);
    EXPECT_EQ(device.IgnoredCount(), 2u);
    EXPECT_TRUE(device.Received().empty());
}

// The test image's SysEx messages with their due times at its tempo (120 bpm, division 480).
zav::emulator::Schedule ImageSchedule(std::uint32_t origin) {
    const auto image = zav::fw::TestImage();
    CSMF smf;
    std::uint32_t consumed = 0;
    EXPECT_TRUE(smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed));
    zav::emulator::Schedule schedule;
    schedule.originMs = origin;
    const double msPerTick = 60000.0 / 120 / 480;
    for (const auto& track : smf.m_tracks) {
        for (const auto& e : track->m_events) {
            if (e->kind != MidiEventKind::SysEx)
                continue;
            const auto due = static_cast<std::uint32_t>(e->tick * msPerTick + 0.5);
            schedule.messages.push_back({due, Bytes(e->Bytes().begin(), e->Bytes().end())});
        }
    }
    return schedule;
}

TEST(ZavDevice, TakesInTheWholeTestImage) {
    constexpr std::uint32_t kOrigin = 10000;
    const auto schedule = ImageSchedule(kOrigin);
    ASSERT_EQ(schedule.messages.size(), 2343u);
    EXPECT_EQ(schedule.messages[1].dueMs, 16005u);
    EXPECT_EQ(schedule.messages.back().dueMs, 146223u);

    ZavDevice device(Model::ZAV10, 0);
    device.Poll(kOrigin);
    ASSERT_TRUE(device.SwitchToUpdateMode());
    for (std::size_t i = 0; i < schedule.messages.size(); ++i) {
        // Mostly on time; 30 messages 5 ms late, one 40 ms late, one 2 ms early.
        const int late = (i >= 100 && i < 130) ? 5 : i == 2000 ? 40 : i == 50 ? -2 : 0;
        const auto& m = schedule.messages[i];
        device.Receive(m.bytes, static_cast<std::uint32_t>(kOrigin + m.dueMs + late));
        ASSERT_TRUE(device.Poll(kOrigin + m.dueMs + 1).empty());
    }

    const auto report = device.Report(schedule);
    EXPECT_TRUE(report.Clean()) << zav::emulator::FormatReport(report);
    EXPECT_EQ(report.messagesReceived, 2343u);
    EXPECT_EQ(report.blocksReceived, 2341u);
    EXPECT_TRUE(report.eraseReceived);
    EXPECT_TRUE(report.checksumReceived);

    zav::emulator::Fnv1a64 expected;
    for (const auto& block : zav::fw::TestImageBlockData())
        expected.Add(block);
    EXPECT_EQ(report.digest, expected.Hex());

    ASSERT_TRUE(report.lateness);
    EXPECT_EQ(report.lateness->matched, 2343u);
    EXPECT_EQ(report.lateness->p50, 0);
    EXPECT_EQ(report.lateness->p99, 5);
    EXPECT_EQ(report.lateness->max, 40);
    EXPECT_EQ(report.lateness->min, -2);
    EXPECT_EQ(report.lateness->early, 1u);
    EXPECT_TRUE(report.missing.empty());

    // After a power cycle the device speaks again and the record stays.
    device.PowerCycle(200000);
    EXPECT_EQ(device.Report().messagesReceived, 2343u);
    EXPECT_EQ(Times(device.Poll(200500)), Ms{200500});
}

TEST(ZavDevice, ReportsFaultsAndMissingMessages) {
    // Erase, blocks 0 to 9 and the checksum, due every 50 ms from 1000.
    zav::emulator::Schedule schedule;
    schedule.originMs = 1000;
    schedule.messages.push_back({0, zav::fw::MakeEraseMessage(2)});
    for (std::uint16_t b = 0; b < 10; ++b) {
        schedule.messages.push_back(
            {50u * (b + 1u),
             zav::fw::MakeDataBlockMessage(b, Bytes(8, static_cast<std::uint8_t>(b)))});
    }
    schedule.messages.push_back({550, zav::fw::MakeChecksumMessage(0x39)});

    ZavDevice device(Model::ZAV5, 0);
    ASSERT_TRUE(device.SwitchToUpdateMode());
    for (std::size_t i = 0; i + 1 < schedule.messages.size(); ++i) {  // the checksum never comes
        if (i == 5)
            continue;  // nor block 4
        Bytes m = schedule.messages[i].bytes;
        if (i == 8)
            m[m.size() - 2] ^= 0x01;  // block 7's check byte
        device.Receive(m, 1000 + schedule.messages[i].dueMs);
    }

    const auto report = device.Report(schedule);
    EXPECT_FALSE(report.Clean());
    ASSERT_EQ(report.faults.size(), 3u) << zav::emulator::FormatReport(report);
    EXPECT_EQ(report.faults[0].kind, FaultKind::BlockNumber);
    EXPECT_EQ(report.faults[0].block, 5);
    EXPECT_EQ(report.faults[0].position, 1300u);
    EXPECT_EQ(report.faults[1].kind, FaultKind::CheckByte);
    EXPECT_EQ(report.faults[1].block, 7);
    EXPECT_EQ(report.faults[1].position, 1400u);
    EXPECT_EQ(report.faults[2].kind, FaultKind::MissingChecksum);
    // Block 4 and the checksum never arrived; the doctored block 7 arrived but is not the one
    // scheduled.
    EXPECT_EQ(report.missing, (std::vector<std::size_t>{5, 8, 11}));
    EXPECT_EQ(report.unscheduled, 1u);
    EXPECT_EQ(report.blocksReceived, 9u);

    // A fresh switch to update mode starts a fresh record.
    device.PowerCycle(5000);
    ASSERT_TRUE(device.SwitchToUpdateMode());
    EXPECT_EQ(device.Report().messagesReceived, 0u);
    EXPECT_TRUE(device.Received().empty());
}

// The owner may deliver messages, poll and read the report from threads of its own.
TEST(ZavDevice, OperationsFromSeveralThreads) {
    ZavDevice device(Model::ZAV5, 0);
    ASSERT_TRUE(device.SwitchToUpdateMode());
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        device.Receive(zav::fw::MakeEraseMessage(2), 1);
        for (std::uint16_t b = 0; b < 200; ++b) {
            device.Receive(zav::fw::MakeDataBlockMessage(b, Bytes(16, 1)), 2u + b);
        }
        device.Receive(zav::fw::MakeChecksumMessage(0x39), 300);
        done = true;
    });
    std::thread poller([&] {
        for (std::uint32_t t = 0; !done; t += 10) {
            device.Poll(t);
            device.Report();
        }
    });
    receiver.join();
    poller.join();
    const auto report = device.Report();
    EXPECT_TRUE(report.Clean()) << zav::emulator::FormatReport(report);
    EXPECT_EQ(report.blocksReceived, 200u);
}

}  // namespace
