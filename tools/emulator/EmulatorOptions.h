#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/ZavDevice.h"

namespace zav::emulator {

// How the emulated device leaves its normal mode for its update mode.
enum class SwitchRule {
    Signal,  // on SIGUSR1: a user's hand on the device's switch
    After,   // a given time after the start
    Never,
};

struct EmulatorOptions {
    Model model = Model::ZAV5;
    Mode startMode = Mode::Normal;
    std::uint32_t statusPeriodMs = ZavDevice::kDefaultStatusPeriodMs;
    SwitchRule switchRule = SwitchRule::Signal;
    std::uint32_t switchAfterMs = 0;
    std::optional<std::string> reportFile;
    std::uint32_t timeLimitS = 600;
    // How long it goes on listening after the checksum message, for anything that follows it.
    std::uint32_t lingerMs = 500;
    bool help = false;
};

// The options of the command line (without the program's name), or the reason they are wrong.
struct ParsedOptions {
    std::optional<EmulatorOptions> options;
    std::string error;
};
ParsedOptions ParseEmulatorOptions(const std::vector<std::string>& args);

std::string EmulatorHelp();

}  // namespace zav::emulator
