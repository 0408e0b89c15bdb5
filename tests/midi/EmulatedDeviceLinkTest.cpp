#include <gtest/gtest.h>

#include "midi/DeviceLink.h"
#include "midi/MidiPorts.h"
#include "platform/midi/virtual/EmulatedZavDevice.h"
#include "tests/midi/MidiBench.h"

namespace {

using zav::emulator::Mode;
using zav::emulator::Model;
using zav::emulator::ZavDevice;
using zav::platform::EmulatedZavDevice;
using zav::test::FromHex;

// The device link against the emulated device, as the update flow uses it.
class EmulatedDeviceLinkTest : public testing::TestWithParam<Model> {
protected:
    EmulatedDeviceLinkTest() {
        CreateDeviceLink();
        link = CurrentDeviceLink();
    }
    ~EmulatedDeviceLinkTest() override {
        DestroyDeviceLink(TakeDeviceLink());
        TakeMidiPorts().reset();
    }

    zav::test::MidiBench bench;
    ZavDevice device{GetParam(), bench.clock.NowMs()};
    EmulatedZavDevice plugged{bench.bus, device, bench.clock};
    DeviceLink* link = nullptr;
};

TEST_P(EmulatedDeviceLinkTest, ADeviceInNormalModeIsHeardWithinASecondOfConnect) {
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(link->lastHeard.load(), 0);
    bench.clock.SleepMs(1000);
    EXPECT_NE(link->lastHeard.load(), 0);
}

TEST_P(EmulatedDeviceLinkTest, ADeviceInUpdateModeStaysSilentAndTakesInWhatIsSent) {
    ASSERT_TRUE(device.SwitchToUpdateMode());
    ASSERT_TRUE(Connect(*link));
    bench.clock.SleepMs(1000);
    EXPECT_EQ(link->lastHeard.load(), 0);

    const auto erase = FromHex("F0 43 7D 30 44 54 41 31 45 52 41 53 45 02 F7");
    ASSERT_EQ(CurrentMidiPorts()->SendSysEx(erase.data(), erase.size()), 0u);
    bench.clock.SleepMs(10);
    ASSERT_EQ(device.Received().size(), 1u);
    EXPECT_EQ(device.Received()[0].bytes, erase);
}

TEST_P(EmulatedDeviceLinkTest, ADeviceThatFallsSilentIsNoLongerHeardThreeSecondsLater) {
    ASSERT_TRUE(Connect(*link));
    bench.clock.SleepMs(1000);
    ASSERT_NE(link->lastHeard.load(), 0);
    device.SwitchToUpdateMode();
    bench.clock.SleepMs(4000);
    EXPECT_EQ(link->lastHeard.load(), 0);
}

TEST_P(EmulatedDeviceLinkTest, AnUnpluggedDeviceIsNotFoundAndAReplugBringsItBack) {
    plugged.Unplug();
    EXPECT_EQ(device.GetMode(), Mode::Unplugged);
    EXPECT_FALSE(Connect(*link));

    plugged.Replug();
    ASSERT_TRUE(Connect(*link));
    bench.clock.SleepMs(1000);
    EXPECT_NE(link->lastHeard.load(), 0);
}

TEST_P(EmulatedDeviceLinkTest, UnpluggingWhileConnectedMakesLaterSendsFail) {
    ASSERT_TRUE(device.SwitchToUpdateMode());
    ASSERT_TRUE(Connect(*link));
    plugged.Unplug();
    const auto block = FromHex("F0 43 7D 40 00 0A 44 54 41 31 4D 41 49 4E 00 00 1A F7");
    EXPECT_EQ(CurrentMidiPorts()->SendSysEx(block.data(), block.size()),
              zav::platform::kMidiNoDevice);
    Disconnect(*link);  // closes without hanging
}

INSTANTIATE_TEST_SUITE_P(Models, EmulatedDeviceLinkTest, testing::Values(Model::ZAV5, Model::ZAV10),
                         [](const testing::TestParamInfo<Model>& model) {
                             return std::string(zav::emulator::ModelName(model.param));
                         });

}  // namespace
