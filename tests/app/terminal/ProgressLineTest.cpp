#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/terminal/FaceChoice.h"
#include "app/terminal/ProgressLine.h"
#include "resources/TestImage.h"

namespace {

using namespace zav::app::terminal;

struct BarCase {
    int percent;
    int width;
    const char* bar;
};

class RenderBarTest : public testing::TestWithParam<BarCase> {};

TEST_P(RenderBarTest, FillsInProportionRoundingDown) {
    EXPECT_EQ(RenderBar(GetParam().percent, GetParam().width), GetParam().bar);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderBarTest,
    testing::Values(BarCase{0, 10, "[----------]"}, BarCase{9, 10, "[----------]"},
                    BarCase{10, 10, "[#---------]"}, BarCase{99, 10, "[#########-]"},
                    BarCase{100, 10, "[##########]"}, BarCase{50, 3, "[#--]"},
                    // Out of range: clamped, never a longer bar.
                    BarCase{-5, 4, "[----]"}, BarCase{250, 4, "[####]"}, BarCase{50, 0, "[]"}));

struct DurationCase {
    std::uint64_t ms;
    const char* text;
};

class FormatDurationTest : public testing::TestWithParam<DurationCase> {};

TEST_P(FormatDurationTest, WholeSecondsRoundedDown) {
    EXPECT_EQ(FormatDuration(GetParam().ms), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatDurationTest,
                         testing::Values(DurationCase{0, "0:00"}, DurationCase{999, "0:00"},
                                         DurationCase{7'000, "0:07"}, DurationCase{59'999, "0:59"},
                                         DurationCase{60'000, "1:00"},
                                         DurationCase{146'500, "2:26"},
                                         DurationCase{3'599'999, "59:59"},
                                         DurationCase{3'723'000, "1:02:03"}));

TEST(ProgressTextTest, BarPercentageAndTimes) {
    EXPECT_EQ(ProgressText(33, 49'000, 97'000, 10),
              "[###-------]  33%  0:49 elapsed, about 1:37 left");
    EXPECT_EQ(ProgressText(100, 146'000, 0, 0), "100%  2:26 elapsed, about 0:00 left");
    EXPECT_EQ(ProgressText(5, 1'000, std::nullopt, 0), "  5%  0:01 elapsed");
}

TEST(TimelineTest, TheTestImageTakesAboutTwoAndAHalfMinutesAfterTheErasePause) {
    const auto timeline = TimelineOf(zav::fw::TestImage());
    ASSERT_TRUE(timeline);
    // The erase message goes first and the blocks only after its 16-second pause, so the bar
    // leaves 0 only then; the whole image takes about 146 seconds.
    EXPECT_EQ(timeline->dueMs[0], 0u);
    EXPECT_GE(timeline->dueMs[1], 16'000u);
    EXPECT_GT(timeline->totalMs, 140'000u);
    EXPECT_LT(timeline->totalMs, 150'000u);
    for (int p = 1; p <= 100; ++p) {
        EXPECT_LE(timeline->dueMs[static_cast<std::size_t>(p - 1)],
                  timeline->dueMs[static_cast<std::size_t>(p)])
            << p;
    }
    EXPECT_EQ(RemainingMs(*timeline, 0), timeline->totalMs);
    // 100 is reported a little before the last message: less than 2% of the time is left.
    EXPECT_LT(RemainingMs(*timeline, 100), timeline->totalMs / 50);
    EXPECT_EQ(RemainingMs(*timeline, 250), RemainingMs(*timeline, 100));
}

TEST(TimelineTest, AnImageThatDoesNotLoadHasNone) {
    EXPECT_FALSE(TimelineOf({}));
    const std::vector<std::uint8_t> notAFile = {'M', 'T', 'h', 'd', 0, 0};
    EXPECT_FALSE(TimelineOf(notAFile));
}

struct Utf8Case {
    std::wstring text;
    std::string utf8;
};

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, EncodesEachCharacter) {
    EXPECT_EQ(Utf8(GetParam().text), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Test,
    testing::Values(Utf8Case{L"Updating...", "Updating..."}, Utf8Case{L"\u00e9", "\xc3\xa9"},
                    Utf8Case{L"\u20ac", "\xe2\x82\xac"},
                    Utf8Case{std::wstring(1, static_cast<wchar_t>(0x1F3B9)), "\xf0\x9f\x8e\xb9"},
                    // A lone surrogate is no character.
                    Utf8Case{std::wstring(1, static_cast<wchar_t>(0xD800)), "\xef\xbf\xbd"}));

TEST(FaceChoiceTest, AWindowOnlyWhereADisplayIsNamed) {
    const std::vector<std::pair<std::map<std::string, std::string>, bool>> cases = {
        {{}, false},
        {{{"DISPLAY", ":0"}}, true},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, true},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {{{"DISPLAY", ""}}, false},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, false},
        {{{"TERM", "xterm"}, {"SSH_TTY", "/dev/pts/0"}}, false},
    };
    for (const auto& [env, window] : cases) {
        const auto lookup = [&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(DisplayAvailable(lookup), window) << testing::PrintToString(env);
    }
}

}  // namespace
