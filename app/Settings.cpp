#include "app/Settings.h"

#include <string>
#include <system_error>

#include "platform/system/ProfileFile.h"
#include "platform/system/UserFolders.h"

using namespace zav::app;

int GetSettingsFolder(std::filesystem::path& folder) {
    const auto base = zav::platform::UserConfigFolder();
    if (base.empty()) {
        folder.clear();
        return -1;
    }
    folder = base / "BRIXEL" / "ZAV Editor" / "config";
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) {
        zav::platform::CreateFolderChain(folder);
    }
    return 0;
}

int ReadStatus(const std::filesystem::path& settingsFile) {
    return zav::platform::ReadProfileInt(settingsFile, kSettingsSection, kStatusKey, kStatusNone);
}

void WriteStatus(const std::filesystem::path& settingsFile, int value) {
    zav::platform::WriteProfileString(settingsFile, kSettingsSection, kStatusKey,
                                      std::to_string(value));
}
