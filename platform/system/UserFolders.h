#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zav::platform {

enum class OsKind { Linux, MacOs, Windows };

// The system this program was built for.
OsKind ThisOs();

// Reads one environment variable; nullopt when it is not set.
using EnvLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The process's own environment.
std::optional<std::string> ProcessEnv(std::string_view name);

// The folder where the user's programs keep their settings: $XDG_CONFIG_HOME (when absolute) or
// ~/.config on Linux, ~/Library/Application Support on macOS, %APPDATA% on Windows. Empty when
// the environment does not tell it.
std::filesystem::path ConfigFolderFor(OsKind os, const EnvLookup& env);
std::filesystem::path UserConfigFolder();

// A folder private to the user for files that live no longer than the session: $XDG_RUNTIME_DIR
// (when absolute), else "zav-<uid>" under the temporary folder, made with access for the user
// alone. Empty when no such folder can be had, or when the fallback is not a plain folder of the
// user's own (a link or another user's folder planted there).
std::filesystem::path UserRuntimeFolder();

// Creates the folder and every missing level above it. True when the folder exists afterwards.
bool CreateFolderChain(const std::filesystem::path& folder);

}  // namespace zav::platform
