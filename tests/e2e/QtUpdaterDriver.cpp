// zav-e2e-updater-qt: the product as zav-updater runs it, its Qt dialog included (offscreen), on
// the machine's MIDI service over RtMidi, with a user at the screen: OK to each prompt after a
// moment's thought, and at the update-mode prompt the device switched first.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <string>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/Strings.h"
#include "app/qt/QtFace.h"
#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/RtMidiBackend.h"
#include "tests/app/qt/QtUser.h"
#include "tests/e2e/DriverSupport.h"

using namespace zav::e2e;
using zav::test::QtUser;

// As in the product: made before main.
CZAVFirmwareUpdaterApp theApp;

int main(int argc, char** argv) {
    const std::optional<DriverArgs> args = ParseDriverArgs(argc, argv, "zav-e2e-updater-qt");
    if (!args)
        return 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    static zav::platform::RtMidiBackend midi;
    zav::platform::InstallMidiBackend(&midi);
    Say("MIDI system " + std::string(zav::platform::MidiSystemName(midi.System())));

    // Screenshots of each window go with the run's other files.
    QtUser user(std::filesystem::current_path() / "screens", "e2e");
    const std::wstring switchPrompt = zav::app::LoadAppString(IDS_SWITCH_MODE);
    user.react = [&](const zav::test::Seen& seen) {
        Say((seen.kind == zav::test::Seen::Kind::Box ? "error box: " : seen.modal ? "prompt: "
                                                                                    : "window: ") +
            Narrow(seen.text));
        if (!seen.modal && seen.kind != zav::test::Seen::Kind::Box)
            return QtUser::Action::None;
        if (seen.text == switchPrompt)
            QTimer::singleShot(args->thinkMs, [device = args->device] { SwitchDevice(device); });
        const int delay = seen.text == switchPrompt ? 2 * args->thinkMs : args->thinkMs;
        QTimer::singleShot(delay, seen.window, [window = QPointer<QWidget>(seen.window)] {
            if (window) {
                Say("OK");
                QtUser::Do(window, QtUser::Action::Ok);
            }
        });
        return QtUser::Action::None;
    };

    zav::app::qt::QtFace face;
    const int code = RunApplication(theApp, face);
    SayFigures(code);
    return code;
}
