#pragma once

#include <filesystem>
#include <string_view>

// Where the status of the update is kept between runs, and how it is read and written.
namespace zav::app {

inline constexpr std::string_view kSettingsSection = "ZAV_V2_Updater";
inline constexpr std::string_view kStatusKey = "Status";
inline constexpr std::string_view kSettingsFileName = "ZAV_V2_Updater.ini";

// Status values: 0 no update started (also a missing file or key), 1 started, 2 completed.
inline constexpr int kStatusNone = 0;
inline constexpr int kStatusStarted = 1;
inline constexpr int kStatusCompleted = 2;

}  // namespace zav::app

// Fills `folder` with "BRIXEL/ZAV Editor/config" under the user's configuration folder and creates
// it when nothing is there yet. Gives 0, or a negative value when the configuration folder cannot
// be told; the folder is then empty.
int GetSettingsFolder(std::filesystem::path& folder);

// The status in the settings file; 0 when the file or the key is missing.
int ReadStatus(const std::filesystem::path& settingsFile);

// Writes the status as a decimal number; a failed write leaves the old value.
void WriteStatus(const std::filesystem::path& settingsFile, int value);
