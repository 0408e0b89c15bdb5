#include "tests/app/AppBench.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Settings.h"
#include "app/ZAVFirmwareUpdater_Dialog.h"
#include "platform/system/ProfileFile.h"

namespace zav::test {

namespace {
constexpr const char* kHomeVariable = "ZAV_TEST_HOME";
}

TestHome::TestHome() {
    if (const char* inherited = std::getenv(kHomeVariable)) {
        m_path = inherited;
    } else {
        m_temp.emplace();
        m_path = m_temp->Path();
        setenv(kHomeVariable, m_path.c_str(), 1);
    }
    std::filesystem::create_directories(m_path / "config");
    std::filesystem::create_directories(m_path / "run");
    ::chmod((m_path / "run").c_str(), 0700);
    m_config.emplace("XDG_CONFIG_HOME", (m_path / "config").string());
    m_runtime.emplace("XDG_RUNTIME_DIR", (m_path / "run").string());
}

TestHome::~TestHome() {
    if (m_temp) {
        unsetenv(kHomeVariable);
    }
}

std::filesystem::path TestHome::SettingsFolder() const {
    return m_path / "config" / "BRIXEL" / "ZAV Editor" / "config";
}

std::filesystem::path TestHome::SettingsFile() const {
    return SettingsFolder() / app::kSettingsFileName;
}

void TestHome::SetStatus(int value) const {
    std::filesystem::create_directories(SettingsFolder());
    WriteStatus(SettingsFile(), value);
}

std::optional<int> TestHome::Status() const {
    std::ifstream in(SettingsFile(), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto value = platform::FindProfileValue(content, app::kSettingsSection, app::kStatusKey);
    if (!value) {
        return std::nullopt;
    }
    return platform::ParseProfileInt(*value);
}

UpdaterBench::UpdaterBench() {
    ResetDeviceReady();
}

UpdaterBench::~UpdaterBench() = default;

}  // namespace zav::test
