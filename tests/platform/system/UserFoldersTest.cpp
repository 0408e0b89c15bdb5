#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "platform/system/UserFolders.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace zav::platform {
namespace {

struct ConfigCase {
    const char* reason;
    OsKind os;
    std::map<std::string, std::string> env;
    std::filesystem::path expected;
};

TEST(UserFolders, ConfigFolderByPlatformAndEnvironment) {
    const ConfigCase cases[] = {
        {"XDG_CONFIG_HOME first",
         OsKind::Linux,
         {{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/u"}},
         "/x/cfg"},
        {"else ~/.config", OsKind::Linux, {{"HOME", "/home/u"}}, "/home/u/.config"},
        {"an empty XDG_CONFIG_HOME is not set",
         OsKind::Linux,
         {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}},
         "/home/u/.config"},
        {"a relative XDG_CONFIG_HOME is ignored",
         OsKind::Linux,
         {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/u"}},
         "/home/u/.config"},
        {"nothing to go by", OsKind::Linux, {}, ""},
        {"macOS ignores XDG",
         OsKind::MacOs,
         {{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/Users/u"}},
         "/Users/u/Library/Application Support"},
        {"Windows",
         OsKind::Windows,
         {{"APPDATA", "C:\\Users\\u\\AppData\\Roaming"}},
         "C:\\Users\\u\\AppData\\Roaming"},
        {"Windows without APPDATA", OsKind::Windows, {{"HOME", "/home/u"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const EnvLookup env = [&](std::string_view name) -> std::optional<std::string> {
            const auto found = c.env.find(std::string(name));
            return found == c.env.end() ? std::nullopt : std::optional(found->second);
        };
        EXPECT_EQ(ConfigFolderFor(c.os, env), c.expected);
    }
}

TEST(UserFolders, CreatesTheWholeChain) {
    test::TempFolder folder;
    const auto chain = folder.Path() / "BRIXEL" / "ZAV Editor" / "config";
    EXPECT_TRUE(CreateFolderChain(chain));
    EXPECT_TRUE(std::filesystem::is_directory(chain));
    EXPECT_TRUE(CreateFolderChain(chain)) << "an existing folder is fine";

    std::ofstream(folder.Path() / "file") << "x";
    EXPECT_FALSE(CreateFolderChain(folder.Path() / "file"));
    EXPECT_FALSE(CreateFolderChain(folder.Path() / "file" / "below"));
    EXPECT_FALSE(CreateFolderChain({}));
}

TEST(UserFolders, RuntimeFolderFromTheEnvironmentOrAPrivateFallback) {
    test::TempFolder folder;
    {
        test::ScopedEnv runtime("XDG_RUNTIME_DIR", folder.Path().string());
        EXPECT_EQ(UserRuntimeFolder(), folder.Path());
    }
    test::ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    test::ScopedEnv temp("TMPDIR", folder.Path().string());
    const auto fallback = folder.Path() / ("zav-" + std::to_string(getuid()));
    EXPECT_EQ(UserRuntimeFolder(), fallback);
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // Somebody else could reach into a folder that is open to others: refused.
    ASSERT_EQ(::chmod(fallback.c_str(), 0755), 0);
    EXPECT_TRUE(UserRuntimeFolder().empty());
    std::filesystem::remove(fallback);
    std::filesystem::create_directory_symlink(folder.Path(), fallback);
    EXPECT_TRUE(UserRuntimeFolder().empty());
}

}  // namespace
}  // namespace zav::platform
