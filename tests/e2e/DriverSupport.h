#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// What the two drivers of the end-to-end run share: their arguments, their lines, the user's hand
// on the device, and the figures of the run.
namespace zav::e2e {

struct DriverArgs {
    pid_t device = 0;   // the emulator's process
    int thinkMs = 500;  // how long the user takes over each prompt
};

// --device-pid PID [--think-ms MS]; nothing, with a usage line on standard error, when wrong.
std::optional<DriverArgs> ParseDriverArgs(int argc, char** argv, const char* program);

void Say(const std::string& line);
std::string Narrow(const std::wstring& text);

// The switch on the device, to update mode: SIGUSR1 to the emulator.
void SwitchDevice(pid_t device);

// The processor time and memory of the process so far, on two lines.
void SayFigures(int exitCode);

}  // namespace zav::e2e
