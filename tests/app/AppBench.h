#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "emulator/ZavDevice.h"
#include "platform/clock/VirtualClock.h"
#include "platform/midi/virtual/EmulatedZavDevice.h"
#include "platform/midi/virtual/VirtualMidiBus.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace zav::test {

// The settings and runtime folders of one test, in a temporary folder of its own, so that no test
// touches the user's files. A death test's child runs the test again from its start: it finds the
// parent's folder in the environment and uses that one, so the parent sees what the child left.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path SettingsFolder() const;
    std::filesystem::path SettingsFile() const;

    // Writes Status=value, making the folder first.
    void SetStatus(int value) const;
    // The Status in the file; nullopt when the file or the key is missing.
    std::optional<int> Status() const;

private:
    std::optional<TempFolder> m_temp;
    std::filesystem::path m_path;
    std::optional<ScopedEnv> m_config;
    std::optional<ScopedEnv> m_runtime;
};

// Everything the flow runs on in a test: a virtual clock and a virtual MIDI bus, both installed,
// and an emulated ZAV5 plugged in and speaking in its normal mode.
struct UpdaterBench {
    UpdaterBench();
    ~UpdaterBench();

    TestHome home;
    platform::VirtualClock clock;
    platform::ScopedClock installedClock{clock};
    platform::VirtualMidiBus bus{clock};
    platform::ScopedMidiBackend installedBus{bus};
    emulator::ZavDevice device{emulator::Model::ZAV5, clock.NowMs()};
    platform::EmulatedZavDevice plugged{bus, device, clock};
};

}  // namespace zav::test
