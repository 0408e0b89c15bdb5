#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/system/ProfileFile.h"
#include "tests/support/TempFolder.h"

namespace zav::platform {
namespace {

constexpr std::string_view kSection = "ZAV_V2_Updater";
constexpr std::string_view kKey = "Status";

struct FindCase {
    const char* reason;
    std::string content;
    std::optional<std::string> expected;
};

TEST(ProfileFile, FindsValuesByTheProfileRules) {
    const FindCase cases[] = {
        {"plain", "[ZAV_V2_Updater]\nStatus=7\n", "7"},
        {"names without regard to case", "[zav_v2_updater]\nSTATUS=7\n", "7"},
        {"blanks and CRLF around names and value", "  [ ZAV_V2_Updater ] \r\n\t Status = 7 \r\n",
         "7"},
        {"no line ending at the end", "[ZAV_V2_Updater]\nStatus=7", "7"},
        {"byte-order mark", "\xEF\xBB\xBF[ZAV_V2_Updater]\nStatus=7\n", "7"},
        {"quotes dropped", "[ZAV_V2_Updater]\nStatus=\"7\"\n", "7"},
        {"first of two keys", "[ZAV_V2_Updater]\nStatus=7\nStatus=8\n", "7"},
        {"first of two sections", "[ZAV_V2_Updater]\nStatus=7\n[ZAV_V2_Updater]\nStatus=8\n", "7"},
        {"key without a value", "[ZAV_V2_Updater]\nStatus\n", ""},
        {"key in another section", "[Other]\nStatus=7\n[ZAV_V2_Updater]\nx=1\n", std::nullopt},
        {"key after the section ends", "[ZAV_V2_Updater]\nx=1\n[Other]\nStatus=7\n", std::nullopt},
        {"commented out", "[ZAV_V2_Updater]\n;Status=7\n", std::nullopt},
        {"key before any section", "Status=7\n[ZAV_V2_Updater]\n", std::nullopt},
        {"empty file", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(FindProfileValue(c.content, kSection, kKey), c.expected);
    }
}

TEST(ProfileFile, ParsesIntegersAsTheProfileFunctionsDo) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"7", 7},           {"-3", -3}, {"+4", 4},  {"12abc", 12},
        {" 8 ", 8},         {"abc", 0}, {"", 0},    {"--1", 0},
        {"0x10", 0},        {"1 2", 1}, {"007", 7}, {"2147483647", 2147483647},
        {"4294967295", -1}, {"-", 0},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseProfileInt(text), expected);
    }
}

struct SetCase {
    const char* reason;
    std::string before;
    std::string after;
};

TEST(ProfileFile, SetReplacesInPlaceAndKeepsEverythingElse) {
    const SetCase cases[] = {
        {"empty file", "", "[ZAV_V2_Updater]\nStatus=2\n"},
        {"replaced", "[ZAV_V2_Updater]\nStatus=1\n", "[ZAV_V2_Updater]\nStatus=2\n"},
        {"replaced in place, the key's spelling and the rest kept",
         "; settings\n[Other]\na=1\n\n[zav_v2_updater]\nx = y\n  status = 1\n; tail\n[Last]\nb=2\n",
         "; settings\n[Other]\na=1\n\n[zav_v2_updater]\nx = y\nstatus=2\n; tail\n[Last]\nb=2\n"},
        {"added after the section's last key", "[ZAV_V2_Updater]\nx=1\n\n[Other]\na=1\n",
         "[ZAV_V2_Updater]\nx=1\nStatus=2\n\n[Other]\na=1\n"},
        {"added under a header with no keys", "[ZAV_V2_Updater]\n[Other]\n",
         "[ZAV_V2_Updater]\nStatus=2\n[Other]\n"},
        {"added to a header with no line ending", "[ZAV_V2_Updater]", "[ZAV_V2_Updater]\nStatus=2"},
        {"section added with the file's CRLF", "[Other]\r\na=1\r\n",
         "[Other]\r\na=1\r\n[ZAV_V2_Updater]\r\nStatus=2\r\n"},
        {"section added after a last line with no ending", "[Other]\na=1",
         "[Other]\na=1\n[ZAV_V2_Updater]\nStatus=2\n"},
        {"only the first of two keys", "[ZAV_V2_Updater]\nStatus=1\nStatus=5\n",
         "[ZAV_V2_Updater]\nStatus=2\nStatus=5\n"},
        {"byte-order mark kept", "\xEF\xBB\xBF[ZAV_V2_Updater]\nStatus=1\n",
         "\xEF\xBB\xBF[ZAV_V2_Updater]\nStatus=2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string after = SetProfileValue(c.before, kSection, kKey, "2");
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(FindProfileValue(after, kSection, kKey), "2");
    }
}

class ProfileFileOnDisk : public testing::Test {
protected:
    std::filesystem::path File() const { return m_folder.Path() / "ZAV_V2_Updater.ini"; }

    void Put(const std::string& content) const {
        std::ofstream(File(), std::ios::binary) << content;
    }
    std::string Get() const {
        std::ifstream in(File(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::size_t EntriesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(m_folder.Path()), {}));
    }

    test::TempFolder m_folder;
};

TEST_F(ProfileFileOnDisk, ReadsTheValueOrTheDefault) {
    EXPECT_EQ(ReadProfileInt(File(), kSection, kKey, 0), 0) << "missing file";
    EXPECT_EQ(ReadProfileInt(File(), kSection, kKey, 42), 42) << "missing file";

    const std::pair<const char*, std::int32_t> cases[] = {
        {"[ZAV_V2_Updater]\nStatus=7\n", 7}, {"[ZAV_V2_Updater]\nStatus=x\n", 0},
        {"[ZAV_V2_Updater]\nStatus=\n", 42}, {"[ZAV_V2_Updater]\nOther=7\n", 42},
        {"[Other]\nStatus=7\n", 42},
    };
    for (const auto& [content, expected] : cases) {
        SCOPED_TRACE(content);
        Put(content);
        EXPECT_EQ(ReadProfileInt(File(), kSection, kKey, 42), expected);
    }
}

TEST_F(ProfileFileOnDisk, WritingTwiceLeavesOneKeyAndTheRestOfTheFile) {
    Put("; kept\n[Editor]\nTheme=dark\n");
    ASSERT_TRUE(WriteProfileString(File(), kSection, kKey, "1"));
    ASSERT_TRUE(WriteProfileString(File(), kSection, kKey, "2"));
    EXPECT_EQ(Get(), "; kept\n[Editor]\nTheme=dark\n[ZAV_V2_Updater]\nStatus=2\n");
    EXPECT_EQ(ReadProfileInt(File(), kSection, kKey, 0), 2);
    EXPECT_EQ(EntriesInFolder(), 1u) << "a temporary file was left behind";
}

TEST_F(ProfileFileOnDisk, CreatesAMissingFileButNotItsFolder) {
    ASSERT_TRUE(WriteProfileString(File(), kSection, kKey, "1"));
    EXPECT_EQ(Get(), "[ZAV_V2_Updater]\nStatus=1\n");

    const auto deeper = m_folder.Path() / "missing" / "ZAV_V2_Updater.ini";
    EXPECT_FALSE(WriteProfileString(deeper, kSection, kKey, "1"));
    EXPECT_FALSE(std::filesystem::exists(deeper.parent_path()));
}

TEST_F(ProfileFileOnDisk, ReplacesTheFileWholeInsteadOfRewritingIt) {
    Put("[ZAV_V2_Updater]\nStatus=1\n");
    ASSERT_EQ(::chmod(File().c_str(), 0640), 0);
    // A reader that opened the old file keeps reading all of it: nothing was truncated in place.
    std::ifstream oldReader(File(), std::ios::binary);
    ASSERT_TRUE(WriteProfileString(File(), kSection, kKey, "2"));
    const std::string old{std::istreambuf_iterator<char>(oldReader),
                          std::istreambuf_iterator<char>()};
    EXPECT_EQ(old, "[ZAV_V2_Updater]\nStatus=1\n");
    EXPECT_EQ(Get(), "[ZAV_V2_Updater]\nStatus=2\n");

    struct stat info {};
    ASSERT_EQ(::stat(File().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileOnDisk, RefusesTextThatWouldBreakTheLine) {
    Put("[ZAV_V2_Updater]\nStatus=1\n");
    EXPECT_FALSE(WriteProfileString(File(), kSection, kKey, "2\n[Injected]"));
    EXPECT_FALSE(WriteProfileString(File(), kSection, "Sta=tus", "2"));
    EXPECT_FALSE(WriteProfileString(File(), "Zav\r", kKey, "2"));
    EXPECT_EQ(Get(), "[ZAV_V2_Updater]\nStatus=1\n");
}

}  // namespace
}  // namespace zav::platform
