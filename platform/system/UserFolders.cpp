#include "platform/system/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace zav::platform {

OsKind ThisOs() {
#if defined(_WIN32)
    return OsKind::Windows;
#elif defined(__APPLE__)
    return OsKind::MacOs;
#else
    return OsKind::Linux;
#endif
}

std::optional<std::string> ProcessEnv(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

namespace {

// A variable that is set, not empty and an absolute path; relative ones are to be ignored.
std::optional<std::filesystem::path> AbsoluteFromEnv(const EnvLookup& env, std::string_view name) {
    const auto value = env(name);
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::filesystem::path path(*value);
    if (!path.is_absolute()) {
        return std::nullopt;
    }
    return path;
}

std::filesystem::path HomeFolder(const EnvLookup& env) {
    if (auto home = AbsoluteFromEnv(env, "HOME")) {
        return *home;
    }
    return {};
}

}  // namespace

std::filesystem::path ConfigFolderFor(OsKind os, const EnvLookup& env) {
    switch (os) {
        case OsKind::Windows: {
            // Always a full path where it is set; this may run where such a path reads otherwise.
            const auto appData = env("APPDATA");
            return appData ? std::filesystem::path(*appData) : std::filesystem::path();
        }
        case OsKind::MacOs: {
            const auto home = HomeFolder(env);
            return home.empty() ? home : home / "Library" / "Application Support";
        }
        case OsKind::Linux:
            break;
    }
    if (auto xdg = AbsoluteFromEnv(env, "XDG_CONFIG_HOME")) {
        return *xdg;
    }
    const auto home = HomeFolder(env);
    return home.empty() ? home : home / ".config";
}

std::filesystem::path UserConfigFolder() {
    const EnvLookup env = [](std::string_view name) -> std::optional<std::string> {
        if (name == "HOME") {
            if (auto home = ProcessEnv(name); home && !home->empty()) {
                return home;
            }
            // Services and su sessions may run without $HOME; the account still has one.
            if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
                return std::string(entry->pw_dir);
            }
            return std::nullopt;
        }
        return ProcessEnv(name);
    };
    return ConfigFolderFor(ThisOs(), env);
}

std::filesystem::path UserRuntimeFolder() {
    if (auto runtime = AbsoluteFromEnv(ProcessEnv, "XDG_RUNTIME_DIR")) {
        return *runtime;
    }
    std::error_code error;
    const auto temp = std::filesystem::temp_directory_path(error);
    if (error) {
        return {};
    }
    const uid_t uid = getuid();
    const auto folder = temp / ("zav-" + std::to_string(uid));
    if (mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        return {};
    }
    // The temporary folder is shared: trust only a real folder that is ours and closed to others.
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid ||
        (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return {};
    }
    return folder;
}

bool CreateFolderChain(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

}  // namespace zav::platform
