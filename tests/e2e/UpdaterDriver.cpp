// zav-e2e-updater: the application's whole flow, as the product runs it, on the machine's MIDI
// service over RtMidi, with a user at the prompts: OK to each, and at the update-mode prompt the
// device switched first (SIGUSR1 to the emulator's process). It prints what the user saw and, at
// the end, the processor time and peak memory of the run.

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/UpdatePhase.h"
#include "platform/midi/MidiService.h"
#include "platform/midi/rtmidi/RtMidiBackend.h"
#include "tests/app/ScriptedFace.h"

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void Say(const std::string& line) {
    std::printf("zav-e2e-updater: %s\n", line.c_str());
    std::fflush(stdout);
}

// The memory figures of /proc/self/status, on one line: the peak, and what is resident now by
// kind (the JACK client library maps the server's shared memory, which counts as resident).
std::string MemoryFigures() {
    std::string figures;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            const std::string text = line;
            for (const char* key : {"VmHWM:", "RssAnon:", "RssFile:", "RssShmem:"}) {
                if (text.rfind(key, 0) == 0) {
                    std::string value = text.substr(std::string(key).size());
                    value.erase(0, value.find_first_not_of(" \t"));
                    value.erase(value.find_last_not_of(" \n") + 1);
                    figures += (figures.empty() ? "" : ", ") + std::string(key) + " " + value;
                }
            }
        }
        std::fclose(status);
    }
    return figures;
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    pid_t device = 0;
    int thinkMs = 500;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--device-pid") {
            device = static_cast<pid_t>(std::atoi(argv[i + 1]));
        } else if (arg == "--think-ms") {
            thinkMs = std::atoi(argv[i + 1]);
        }
    }
    if (device <= 0) {
        std::fprintf(stderr, "usage: zav-e2e-updater --device-pid PID [--think-ms MS]\n");
        return 2;
    }

    zav::platform::RtMidiBackend midi;
    zav::platform::ScopedMidiBackend installed(midi);
    Say("MIDI system " + std::string(zav::platform::MidiSystemName(midi.System())));

    CZAVFirmwareUpdaterApp app;
    zav::test::ScriptedFace face;
    const auto think = [thinkMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(thinkMs));
    };
    face.onModal = [&](const zav::app::WindowSpec& windowSpec) {
        Say("prompt: " + Narrow(windowSpec.text));
        think();
        if (windowSpec.phase == PhaseSwitchMode) {
            kill(device, SIGUSR1);
            Say("switched the device to update mode");
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
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("zav-e2e-updater: exit %d, cpu %.2f s (user %.2f, system %.2f), peak rss %ld kB\n",
                code, Seconds(usage.ru_utime) + Seconds(usage.ru_stime), Seconds(usage.ru_utime),
                Seconds(usage.ru_stime), usage.ru_maxrss);
    Say("memory: " + MemoryFigures());
    return code;
}
