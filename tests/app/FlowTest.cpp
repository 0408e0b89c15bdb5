#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <thread>
#include <vector>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/ZAVFirmwareUpdater_Dialog.h"
#include "midi/DeviceLink.h"
#include "midi/MidiPorts.h"
#include "resources/TestImage.h"
#include "tests/app/AppBench.h"
#include "tests/app/ScriptedFace.h"

namespace {

using zav::test::ScriptedFace;
using Kind = ScriptedFace::Kind;
using testing::HasSubstr;
using testing::Not;

constexpr std::size_t kTestImageMessages = 2343;

class FlowTest : public testing::Test {
protected:
    static void SetUpTestSuite() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    // A user at the update-mode prompt switches the device before pressing OK.
    void SwitchAtThePrompt() {
        face.onModal = [this](const zav::app::WindowSpec& windowSpec) {
            if (windowSpec.phase == PhaseSwitchMode) {
                bench.device.SwitchToUpdateMode();
            }
            return ScriptedFace::Answer::Ok;
        };
    }

    std::vector<UpdatePhase> WindowPhases() const {
        std::vector<UpdatePhase> phases;
        for (const auto& event : face.Events()) {
            if (event.kind == Kind::Modal || event.kind == Kind::Modeless) {
                phases.push_back(event.windowSpec.phase);
            }
        }
        return phases;
    }

    zav::test::UpdaterBench bench;
    ScriptedFace face;
};

TEST_F(FlowTest, AFirstRunTakesTheDeviceThroughEveryPhase) {
    CZAVFirmwareUpdaterApp app(zav::fw::TestImage());
    std::optional<int> statusAtCompletion;
    std::size_t portsOpenAtReady = 99;
    face.onModal = [&](const zav::app::WindowSpec& windowSpec) {
        if (windowSpec.phase == PhaseReady) {
            portsOpenAtReady = bench.plugged.Ports().Counters().inputBuffersQueued;
        }
        if (windowSpec.phase == PhaseSwitchMode) {
            bench.device.SwitchToUpdateMode();
        }
        if (windowSpec.phase == PhaseComplete) {
            statusAtCompletion = bench.home.Status();
            // A user takes a moment to read it; meanwhile the last message plays out.
            bench.clock.SleepMs(1000);
        }
        return ScriptedFace::Answer::Ok;
    };
    EXPECT_EQ(RunApplication(app, face), 0);

    EXPECT_EQ(WindowPhases(), (std::vector<UpdatePhase>{PhaseWaiting, PhaseReady, PhaseSwitchMode,
                                                        PhaseUpdating, PhaseComplete}));
    std::vector<int> every(100);
    for (int i = 0; i < 100; ++i) {
        every[static_cast<std::size_t>(i)] = i + 1;
    }
    EXPECT_EQ(face.ProgressValues(), every);
    EXPECT_EQ(portsOpenAtReady, 0u) << "the ready prompt runs with the ports closed";
    EXPECT_EQ(statusAtCompletion, 2);
    EXPECT_EQ(bench.home.Status(), 2);

    const auto report = bench.device.Report();
    EXPECT_EQ(report.messagesReceived, kTestImageMessages);
    EXPECT_TRUE(report.faults.empty()) << zav::emulator::FormatReport(report);
    EXPECT_EQ(CurrentDeviceLink(), nullptr) << "ExitInstance tears the link down";
    EXPECT_EQ(CurrentMidiPorts(), nullptr);
}

TEST_F(FlowTest, ThePollOutlivesAPortThatWillNotOpen) {
    CreateDeviceLink();
    // The first two attempts find the input port taken; the third opens it.
    auto& ports = bench.plugged.Ports();
    ports.Fail(zav::platform::MidiOp::InOpen, zav::platform::kMidiAllocated);
    std::vector<std::uint32_t> attempts;
    ports.OnCall(zav::platform::MidiOp::InOpen, [&] {
        attempts.push_back(bench.clock.NowMs());
        if (attempts.size() == 3) {
            ports.Fail(zav::platform::MidiOp::InOpen, 0);
        }
    });
    // Nothing sleeps before the poll starts, so the window comes up at this time.
    const std::uint32_t shownAt = bench.clock.NowMs();

    testing::internal::CaptureStderr();
    {
        ZAVFirmwareUpdater_Dialog dialog(face);
        dialog.WaitForConnection();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_TRUE(DeviceReady.load());
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_EQ(attempts[0] - shownAt, 1000u);
    EXPECT_EQ(attempts[1] - attempts[0], 500u);
    EXPECT_EQ(attempts[2] - attempts[1], 500u);
    EXPECT_EQ(ports.Counters().inputBuffersQueued, 0u) << "disconnected once heard";
    for (const auto& event : face.Events()) {
        EXPECT_NE(event.kind, Kind::ErrorBox);
    }
    DestroyDeviceLink(TakeDeviceLink());
    TakeMidiPorts().reset();
}

TEST_F(FlowTest, CancelWhileWaitingStopsThePollBeforeTheTeardown) {
    EXPECT_EXIT(
        {
            // The port is there but will not open, so every attempt goes into the MIDI service.
            // An attempt that is under way when the user cancels lingers there until the link is
            // gone or a moment has passed: a poll left running would go on into freed objects.
            auto& ports = bench.plugged.Ports();
            ports.Fail(zav::platform::MidiOp::InOpen, zav::platform::kMidiAllocated);
            std::atomic<bool> inside{false};
            ports.OnCall(zav::platform::MidiOp::InOpen, [&inside] {
                inside = true;
                const auto until =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
                while (CurrentDeviceLink() != nullptr && std::chrono::steady_clock::now() < until) {
                    std::this_thread::yield();
                }
            });
            // And the process takes a moment to end, time enough for such a poll to do harm.
            std::atexit([] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });

            CZAVFirmwareUpdaterApp app(zav::fw::TestImage());
            face.onModeless = [&inside](const zav::app::WindowSpec& windowSpec,
                                        zav::app::DialogCommands& commands) {
                if (windowSpec.phase == PhaseWaiting) {
                    while (!inside) {
                        std::this_thread::yield();
                    }
                    commands.OnCancelCommand();
                }
            };
            RunApplication(app, face);
        },
        testing::ExitedWithCode(0), Not(HasSubstr("Exception caught!")));
    EXPECT_EQ(bench.home.Status(), std::nullopt);
}

TEST_F(FlowTest, AnEmptyFirmwareIsAFailedUpdate) {
    bench.home.SetStatus(1);
    CZAVFirmwareUpdaterApp app(std::span<const std::uint8_t>{});
    SwitchAtThePrompt();
    RunApplication(app, face);

    const auto events = face.Events();
    std::vector<std::wstring> boxes;
    for (const auto& event : events) {
        if (event.kind == Kind::ErrorBox) {
            boxes.push_back(event.text);
            EXPECT_EQ(event.openWindows, 1) << "over the updating window";
        }
    }
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"Communication error."});
    EXPECT_EQ(WindowPhases(), (std::vector<UpdatePhase>{PhaseSwitchMode, PhaseUpdating}));
    EXPECT_EQ(bench.home.Status(), 1);
    EXPECT_TRUE(bench.device.Received().empty());
}

TEST_F(FlowTest, TheUpdateTakesNoMoreBytesThanItWasGiven) {
    const auto image = zav::fw::TestImage();
    const std::vector<std::uint8_t> bytes(image.begin(), image.end());
    const int size = static_cast<int>(bytes.size());
    struct Case {
        const char* reason;
        std::vector<std::uint8_t> firmware;
        int count;
        int result;
    };
    const Case cases[] = {
        {"no bytes", {}, 0, -1},
        {"a count of 0", bytes, 0, -1},
        {"a negative count", bytes, -1, -1},
        {"a count past the end", bytes, size + 4096, 1},
    };
    CreateDeviceLink();
    bench.device.SwitchToUpdateMode();
    ASSERT_TRUE(Connect(RequireDeviceLink()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ZAVFirmwareUpdater_Dialog dialog(face);
        EXPECT_TRUE(dialog.RunUpdate(c.firmware, c.count));
        EXPECT_EQ(dialog.m_result.load(), c.result);
        EXPECT_FALSE(dialog.m_running.load());
    }
    bench.clock.SleepMs(10);  // the last message plays out
    EXPECT_EQ(bench.device.Received().size(), kTestImageMessages);
    DestroyDeviceLink(TakeDeviceLink());
    TakeMidiPorts().reset();
}

TEST_F(FlowTest, NothingCancelsTheTransferOnceItRuns) {
    CreateDeviceLink();
    bench.device.SwitchToUpdateMode();
    ASSERT_TRUE(Connect(RequireDeviceLink()));
    zav::app::DialogCommands* commands = nullptr;
    face.onModeless = [&](const zav::app::WindowSpec& windowSpec, zav::app::DialogCommands& c) {
        EXPECT_FALSE(windowSpec.closeEnabled);
        EXPECT_FALSE(windowSpec.cancelVisible);
        EXPECT_FALSE(windowSpec.okVisible);
        commands = &c;
    };
    face.onProgress = [&](int value) {
        if (value == 50) {
            commands->OnCancelCommand();  // must return: the process goes on
        }
    };
    const auto image = zav::fw::TestImage();
    ZAVFirmwareUpdater_Dialog dialog(face);
    dialog.RunUpdate({image.begin(), image.end()}, static_cast<int>(image.size()));
    EXPECT_EQ(dialog.m_result.load(), 1);
    EXPECT_EQ(face.ProgressValues().back(), 100);
    bench.clock.SleepMs(10);  // the last message plays out
    EXPECT_EQ(bench.device.Received().size(), kTestImageMessages);
    DestroyDeviceLink(TakeDeviceLink());
    TakeMidiPorts().reset();
}

}  // namespace
