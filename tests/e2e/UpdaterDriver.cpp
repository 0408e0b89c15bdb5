// zav-e2e-updater: the application's whole flow, as the product runs it, on the machine's MIDI
// service over RtMidi, with a user at the prompts of a face without windows: OK to each, and at
// the update-mode prompt the device switched first. For builds without the Qt face (the
// ThreadSanitizer one).

#include <chrono>
#include <string>
#include <thread>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/UpdatePhase.h"
#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/RtMidiBackend.h"
#include "tests/app/ScriptedFace.h"
#include "tests/e2e/DriverSupport.h"

using namespace zav::e2e;

int main(int argc, char** argv) {
    const std::optional<DriverArgs> args = ParseDriverArgs(argc, argv, "zav-e2e-updater");
    if (!args)
        return 2;

    zav::platform::RtMidiBackend midi;
    zav::platform::ScopedMidiBackend installed(midi);
    Say("MIDI system " + std::string(zav::platform::MidiSystemName(midi.System())));

    CZAVFirmwareUpdaterApp app;
    zav::test::ScriptedFace face;
    const auto think = [&] { std::this_thread::sleep_for(std::chrono::milliseconds(args->thinkMs)); };
    face.onModal = [&](const zav::app::WindowSpec& windowSpec) {
        Say("prompt: " + Narrow(windowSpec.text));
        think();
        if (windowSpec.phase == PhaseSwitchMode) {
            SwitchDevice(args->device);
            think();
        }
        Say("OK");
        return zav::test::ScriptedFace::Answer::Ok;
    };
    face.onModeless = [](const zav::app::WindowSpec& windowSpec, zav::app::DialogCommands&) {
        Say("window: " + Narrow(windowSpec.text));
    };
    face.onProgress = [](int value) {
        if (value % 10 == 0)
            Say("progress " + std::to_string(value));
    };

    const int code = RunApplication(app, face);
    for (const auto& event : face.Events()) {
        if (event.kind == zav::test::ScriptedFace::Kind::ErrorBox)
            Say("error box: " + Narrow(event.text));
    }
    SayFigures(code);
    return code;
}
