// Every failure that the MIDI service, the device or the clock can bring into an update, each as
// one row: what the user is told, what the status file says, that the run ends and leaves nothing
// behind, and that the next run in the same settings folder resumes at the update-mode prompt and
// completes.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <string>
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

using zav::platform::MidiOp;
using zav::test::ScriptedFace;
using zav::test::UpdaterBench;
using Kind = ScriptedFace::Kind;

constexpr std::size_t kTestImageMessages = 2343;
// Real time that a whole run may take before it counts as hung; a run takes a small part of it
// under every sanitizer.
constexpr auto kRunBound = std::chrono::seconds(120);

const std::wstring kNotConnected = L"Please make sure that ZAV is connected. ";
const std::wstring kCommunication = L"Communication error.";

const std::vector<UpdatePhase> kFirstRun = {PhaseWaiting, PhaseReady, PhaseSwitchMode,
                                            PhaseUpdating, PhaseComplete};
const std::vector<UpdatePhase> kAskedTwice = {PhaseWaiting,    PhaseReady,    PhaseSwitchMode,
                                              PhaseSwitchMode, PhaseUpdating, PhaseComplete};
const std::vector<UpdatePhase> kFailedUpdate = {PhaseWaiting, PhaseReady, PhaseSwitchMode,
                                                PhaseUpdating};
const std::vector<UpdatePhase> kResumed = {PhaseSwitchMode, PhaseUpdating, PhaseComplete};

// What one run of the application showed and left.
struct Outcome {
    std::vector<ScriptedFace::Event> events;
    std::optional<int> statusAtRetry;
    std::optional<int> statusAtFirstSend;
    // Long messages handed to the bus by the progress report 50.
    std::size_t sentAtHalf = 0;
    std::optional<int> statusAtCompletion;
    // Sent buffers that the ports held at the progress report 100.
    std::size_t pendingAtTheEnd = 0;
    std::optional<std::uint32_t> linkTimerAtReady;
    std::string stderrText;

    std::vector<UpdatePhase> Phases() const {
        std::vector<UpdatePhase> phases;
        for (const auto& event : events) {
            if (event.kind == Kind::Modal || event.kind == Kind::Modeless)
                phases.push_back(event.windowSpec.phase);
        }
        return phases;
    }
    std::vector<std::wstring> Boxes() const {
        std::vector<std::wstring> boxes;
        for (const auto& event : events) {
            if (event.kind == Kind::ErrorBox)
                boxes.push_back(event.text);
        }
        return boxes;
    }
};

// When a row's fault comes into the run.
enum class Arm {
    AtStart,               // before the application is made
    AtUpdateModePrompt,    // as the user presses OK at the first update-mode prompt; gone by the
                           // second, as when the user has seen to the cable
    HalfwayThroughUpdate,  // at the progress report 50
};

struct FaultRow {
    const char* name;
    Arm arm;
    std::function<void(UpdaterBench&)> inject;
    std::vector<std::wstring> boxes;
    std::vector<UpdatePhase> phases;
    int status;
    // Messages the device took in update mode; nullopt where it depends on timing.
    std::optional<std::size_t> received;
    // What else shows that the fault took effect.
    std::function<void(const Outcome&, UpdaterBench&)> check;
};

void PrintTo(const FaultRow& row, std::ostream* os) {
    *os << row.name;
}

// Clears every fault that a row can inject, as a new day with a working set-up would.
void ClearFaults(UpdaterBench& bench) {
    auto& ports = bench.plugged.Ports();
    for (MidiOp op : {MidiOp::InOpen, MidiOp::InPrepare, MidiOp::InAddBuffer, MidiOp::InStart,
                      MidiOp::OutOpen, MidiOp::OutPrepare}) {
        ports.Fail(op, 0);
    }
    ports.OpenWithoutHandle(MidiOp::InOpen, false);
    for (std::size_t i : {std::size_t{0}, kTestImageMessages / 2, kTestImageMessages - 1})
        ports.FailLongMessage(i, 0);
    ports.WithholdDone(false);
    bench.clock.FailTimerStarts(false);
}

class FaultTableTest : public testing::TestWithParam<FaultRow> {
protected:
    // The whole application, on a thread of its own that is its user interface thread, with a
    // user who switches the device at the update-mode prompt and presses OK everywhere. A run that
    // does not end within the bound ends the test program: nothing could stop it cleanly.
    Outcome RunApplicationOnce(const FaultRow* row) {
        ResetDeviceReady();
        Outcome run;
        std::promise<void> ended;
        auto future = ended.get_future();
        // On the sending thread, as the first message goes to the bus.
        auto& ports = bench.plugged.Ports();
        ports.OnCall(MidiOp::OutLongMsg, [&] {
            if (!run.statusAtFirstSend)
                run.statusAtFirstSend = bench.home.Status();
        });
        testing::internal::CaptureStderr();
        std::thread ui([&] {
            ScriptedFace face;
            int prompts = 0;
            face.onModal = [&](const zav::app::WindowSpec& windowSpec) {
                if (windowSpec.phase == PhaseReady && CurrentDeviceLink() != nullptr)
                    run.linkTimerAtReady = CurrentDeviceLink()->timerId;
                if (windowSpec.phase == PhaseSwitchMode) {
                    ++prompts;
                    if (prompts == 1 && row && row->arm == Arm::AtUpdateModePrompt)
                        row->inject(bench);
                    if (prompts == 2) {
                        run.statusAtRetry = bench.home.Status();
                        ClearFaults(bench);
                    }
                    bench.device.SwitchToUpdateMode();
                }
                if (windowSpec.phase == PhaseComplete) {
                    run.statusAtCompletion = bench.home.Status();
                    bench.clock.SleepMs(1000);  // the last message plays out meanwhile
                }
                return ScriptedFace::Answer::Ok;
            };
            face.onProgress = [&](int value) {
                if (value == 50) {
                    run.sentAtHalf = bench.plugged.Ports().Counters().longMessages;
                    if (row && row->arm == Arm::HalfwayThroughUpdate)
                        row->inject(bench);
                }
                if (value == 100 && CurrentMidiPorts() != nullptr)
                    run.pendingAtTheEnd = CurrentMidiPorts()->PendingCount();
            };
            CZAVFirmwareUpdaterApp app(zav::fw::TestImage());
            EXPECT_EQ(RunApplication(app, face), 0);
            run.events = face.Events();
            ended.set_value();
        });
        if (future.wait_for(kRunBound) != std::future_status::ready) {
            std::fputs(testing::internal::GetCapturedStderr().c_str(), stderr);
            std::fprintf(stderr, "%s: the run did not end within %lld s\n",
                         row ? row->name : "the run without a fault",
                         static_cast<long long>(kRunBound.count()));
            std::fflush(stderr);
            std::_Exit(1);
        }
        ui.join();
        ports.OnCall(MidiOp::OutLongMsg, nullptr);
        run.stderrText = testing::internal::GetCapturedStderr();
        return run;
    }

    // What every run leaves: no link, no ports, no buffer with the service.
    void ExpectNothingLeft() {
        EXPECT_EQ(CurrentDeviceLink(), nullptr);
        EXPECT_EQ(CurrentMidiPorts(), nullptr);
        const auto counters = bench.plugged.Ports().Counters();
        EXPECT_EQ(counters.inputBuffersQueued, 0u);
        EXPECT_EQ(counters.outputBuffersPrepared, 0u);
    }

    UpdaterBench bench;
};

TEST_P(FaultTableTest, GivesItsOutcomeAndTheNextRunCompletes) {
    const FaultRow& row = GetParam();
    if (row.arm == Arm::AtStart)
        row.inject(bench);

    const Outcome first = RunApplicationOnce(&row);
    EXPECT_EQ(first.Boxes(), row.boxes);
    EXPECT_EQ(first.Phases(), row.phases);
    EXPECT_EQ(bench.home.Status(), row.status);
    EXPECT_EQ(first.statusAtFirstSend, 1) << "written before anything goes to the device";
    if (row.arm == Arm::AtUpdateModePrompt) {
        EXPECT_EQ(first.statusAtRetry, std::nullopt) << "a refused connection changes nothing";
    }
    if (row.status == 2) {
        EXPECT_EQ(first.statusAtCompletion, 2);
    }
    if (row.received) {
        EXPECT_EQ(bench.device.Received().size(), *row.received);
    }
    EXPECT_EQ(first.stderrText, "");
    if (row.check) {
        row.check(first, bench);
    } else if (row.status == 2) {
        EXPECT_EQ(first.pendingAtTheEnd, 1u) << "each buffer released once played";
    }
    ExpectNothingLeft();

    // The next day: the device back in its normal mode, plugged in, nothing failing.
    ClearFaults(bench);
    if (bench.device.GetMode() == zav::emulator::Mode::Unplugged)
        bench.plugged.Replug();
    bench.device.PowerCycle(bench.clock.NowMs());
    const Outcome second = RunApplicationOnce(nullptr);
    EXPECT_EQ(second.Boxes(), std::vector<std::wstring>{});
    EXPECT_EQ(second.Phases(), kResumed);
    EXPECT_EQ(second.statusAtCompletion, 2);
    EXPECT_EQ(bench.home.Status(), 2);
    const auto report = bench.device.Report();
    EXPECT_EQ(report.messagesReceived, kTestImageMessages);
    EXPECT_TRUE(report.faults.empty()) << zav::emulator::FormatReport(report);
    EXPECT_EQ(second.stderrText, "");
    ExpectNothingLeft();
}

// The index-th long message of the update is refused.
std::function<void(UpdaterBench&)> FailMessage(std::size_t index) {
    return [index](UpdaterBench& bench) {
        bench.plugged.Ports().FailLongMessage(index, zav::platform::kMidiNotReady);
    };
}

std::function<void(UpdaterBench&)> FailOp(MidiOp op, zav::platform::MidiResult code) {
    return [op, code](UpdaterBench& bench) { bench.plugged.Ports().Fail(op, code); };
}

const FaultRow kRows[] = {
    {"InputOpenRefused",
     Arm::AtUpdateModePrompt,
     FailOp(MidiOp::InOpen, zav::platform::kMidiAllocated),
     {kNotConnected},
     kAskedTwice,
     2,
     kTestImageMessages,
     nullptr},
    {"InputOpenGivesNoHandle",
     Arm::AtUpdateModePrompt,
     [](UpdaterBench& bench) { bench.plugged.Ports().OpenWithoutHandle(MidiOp::InOpen); },
     {kNotConnected},
     kAskedTwice,
     2,
     kTestImageMessages,
     nullptr},
    {"OutputOpenRefused",
     Arm::AtUpdateModePrompt,
     FailOp(MidiOp::OutOpen, zav::platform::kMidiAllocated),
     {kNotConnected},
     kAskedTwice,
     2,
     kTestImageMessages,
     nullptr},
    {"InputPrepareFails",
     Arm::AtUpdateModePrompt,
     FailOp(MidiOp::InPrepare, zav::platform::kMidiNoMemory),
     {kNotConnected},
     kAskedTwice,
     2,
     kTestImageMessages,
     nullptr},
    {"InputBufferAddFails",
     Arm::AtUpdateModePrompt,
     FailOp(MidiOp::InAddBuffer, zav::platform::kMidiNoMemory),
     {kNotConnected},
     kAskedTwice,
     2,
     kTestImageMessages,
     nullptr},
    {"InputStartFails",
     Arm::AtUpdateModePrompt,
     FailOp(MidiOp::InStart, zav::platform::kMidiNoDevice),
     {kNotConnected},
     kAskedTwice,
     2,
     kTestImageMessages,
     nullptr},
    // The ports leave a prepare's code alone; the send of an unprepared buffer is what fails.
    {"OutputPrepareFails",
     Arm::AtStart,
     FailOp(MidiOp::OutPrepare, zav::platform::kMidiNoMemory),
     {kCommunication},
     kFailedUpdate,
     1,
     0,
     nullptr},
    {"FirstMessageRefused",
     Arm::AtStart,
     FailMessage(0),
     {kCommunication},
     kFailedUpdate,
     1,
     0,
     nullptr},
    {"MiddleMessageRefused",
     Arm::AtStart,
     FailMessage(kTestImageMessages / 2),
     {kCommunication},
     kFailedUpdate,
     1,
     kTestImageMessages / 2,
     nullptr},
    {"LastMessageRefused",
     Arm::AtStart,
     FailMessage(kTestImageMessages - 1),
     {kCommunication},
     kFailedUpdate,
     1,
     kTestImageMessages - 1,
     nullptr},
    // The engine waits for no done notice: the buffers stay pending until the ports close.
    {"DoneNoticesWithheld",
     Arm::AtStart,
     [](UpdaterBench& bench) { bench.plugged.Ports().WithholdDone(); },
     {},
     kFirstRun,
     2,
     kTestImageMessages,
     [](const Outcome& run, UpdaterBench&) {
         // The report 100 follows message 2332.
         EXPECT_EQ(run.pendingAtTheEnd, 2333u);
     }},
    {"DeviceUnpluggedHalfway",
     Arm::HalfwayThroughUpdate,
     [](UpdaterBench& bench) { bench.plugged.Unplug(); },
     {kCommunication},
     kFailedUpdate,
     1,
     std::nullopt,
     [](const Outcome& run, UpdaterBench& bench) {
         // The message on its way went with the device, and the first send to the device that
         // had gone was the last one.
         EXPECT_EQ(bench.device.Received().size(), run.sentAtHalf - 1);
         EXPECT_EQ(bench.plugged.Ports().Counters().longMessages, run.sentAtHalf + 1);
     }},
    {"DeviceBackInNormalModeHalfway",
     Arm::HalfwayThroughUpdate,
     [](UpdaterBench& bench) { bench.device.PowerCycle(bench.clock.NowMs()); },
     {kCommunication},
     kFailedUpdate,
     1,
     std::nullopt,
     [](const Outcome&, UpdaterBench& bench) {
         // It went on only until the device was heard, within a status period or so.
         EXPECT_GT(bench.device.IgnoredCount(), 0u);
         EXPECT_LT(bench.plugged.Ports().Counters().longMessages, kTestImageMessages * 3 / 4);
     }},
    // Without its timer the link has no silence timeout, which the flow never waits on.
    {"LinkTimerFailsToStart",
     Arm::AtStart,
     [](UpdaterBench& bench) { bench.clock.FailTimerStarts(true); },
     {},
     kFirstRun,
     2,
     kTestImageMessages,
     [](const Outcome& run, UpdaterBench&) {
         EXPECT_EQ(run.linkTimerAtReady, 0u);
         EXPECT_EQ(run.pendingAtTheEnd, 1u);
     }},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTableTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FaultRow>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
