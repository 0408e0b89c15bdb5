// zav-test-flow-driver: one run of the application's whole flow on the virtual bench (virtual
// clock, virtual bus, an emulated ZAV5), in the settings folder of the test home named by
// ZAV_TEST_HOME, with a user who presses OK everywhere and switches the device at the update-mode
// prompt. For tests that stop the program from outside. Each thing the user sees or does is one
// line on standard output, written as it happens:
//
//   window <phase>     a window of the phase opened (modeless or modal)
//   ok <phase>         the user pressed OK in it
//   progress <value>   the bar moved
//   box <text>         an error box
//   end <code>         the application ended with that exit code

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "resources/TestImage.h"
#include "tests/app/AppBench.h"
#include "tests/app/ScriptedFace.h"

namespace {

// Whole lines in one write each, unbuffered, so that a line seen by the reader was written before
// whatever follows it in the flow.
void Say(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace

int main() {
    if (std::getenv("ZAV_TEST_HOME") == nullptr) {
        Say("ZAV_TEST_HOME must name the test home");
        return 2;
    }
    // The bench of the flow's tests, but with the device polled less often: a run here is one of
    // hundreds, and the device speaks only every 500 ms.
    zav::test::TestHome home;
    zav::platform::VirtualClock clock;
    zav::platform::ScopedClock installedClock{clock};
    zav::platform::VirtualMidiBus bus{clock};
    zav::platform::ScopedMidiBackend installedBus{bus};
    zav::emulator::ZavDevice device{zav::emulator::Model::ZAV5, clock.NowMs()};
    zav::platform::EmulatedZavDevice plugged{bus, device, clock, 100};
    struct {
        zav::emulator::ZavDevice& device;
        zav::platform::VirtualClock& clock;
    } bench{device, clock};
    zav::test::ScriptedFace face;
    face.onModal = [&](const zav::app::WindowSpec& windowSpec) {
        Say("window " + std::to_string(windowSpec.phase));
        if (windowSpec.phase == PhaseSwitchMode)
            bench.device.SwitchToUpdateMode();
        if (windowSpec.phase == PhaseComplete)
            bench.clock.SleepMs(1000);  // the last message plays out meanwhile
        Say("ok " + std::to_string(windowSpec.phase));
        return zav::test::ScriptedFace::Answer::Ok;
    };
    face.onModeless = [](const zav::app::WindowSpec& windowSpec, zav::app::DialogCommands&) {
        Say("window " + std::to_string(windowSpec.phase));
    };
    face.onProgress = [](int value) { Say("progress " + std::to_string(value)); };

    CZAVFirmwareUpdaterApp app(zav::fw::TestImage());
    const int code = RunApplication(app, face);
    for (const auto& event : face.Events()) {
        if (event.kind == zav::test::ScriptedFace::Kind::ErrorBox)
            Say("box " + Narrow(event.text));
    }
    Say("end " + std::to_string(code));
    return code;
}
