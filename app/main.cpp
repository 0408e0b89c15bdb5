#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/ChosenFace.h"
#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/RtMidiBackend.h"

// The one application object, made before main as the framework makes it: the device link exists
// and the settings folder is there from the start, in a second copy too. It holds nothing of Qt,
// so that its destruction at exit, Cancel's exit included, touches no Qt object.
CZAVFirmwareUpdaterApp theApp;

int main(int argc, char** argv) {
    // Static, so that Cancel's exit takes it down too, after the ports have been closed.
    static zav::platform::RtMidiBackend midi;
    zav::platform::InstallMidiBackend(&midi);
    return RunWithChosenFace(theApp, argc, argv);
}
