#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "tests/app/AppBench.h"
#include "tests/app/terminal/ChildProcess.h"

// The demo in its terminal face, driven as a user at a terminal would drive it: each test waits
// for the text of a phase before it answers. The demo runs on its virtual clock, so the transfer
// of a whole image takes moments.
namespace {

using testing::HasSubstr;
using testing::Not;
using zav::test::PtySession;

constexpr const char* kReady = "ZAV is ready. Press \"OK\" to proceed.";
constexpr const char* kSwitch = "Please switch ZAV to update mode.";
constexpr const char* kComplete = "Update Complete! Turn the power off/on before using.";
constexpr const char* kCannotInterrupt = "The update cannot be interrupted";

class TerminalDemoTest : public testing::Test {
protected:
    zav::test::EnvChanges Env() const {
        return {{"DISPLAY", std::nullopt},
                {"WAYLAND_DISPLAY", std::nullopt},
                {"QT_QPA_PLATFORM", std::nullopt},
                {"ZAV_DEMO_CLOCK", "virtual"},
                {"TERM", "xterm"}};
    }

    std::string SettingsContent() const {
        std::ifstream in(home.SettingsFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static int Count(const std::string& text, const std::string& what) {
        int count = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++count;
        }
        return count;
    }

    // The settings and runtime folders of the test, which the demo inherits.
    zav::test::TestHome home;
};

TEST_F(TerminalDemoTest, AFreshStartGoesThroughEveryPhaseToStatus2) {
    PtySession demo(ZAV_DEMO, Env());
    const termios before = demo.Modes();

    ASSERT_TRUE(demo.WaitFor("Waiting for connection...\r\n[Esc/q] Cancel\r\n")) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor(std::string(kReady) + "\r\n[Enter] OK\r\n")) << demo.Screen();
    demo.Type("\r");
    ASSERT_TRUE(demo.WaitFor(std::string(kSwitch) + "\r\n[Enter] OK   [Esc/q] Cancel\r\n"))
        << demo.Screen();
    demo.Type("\r");
    ASSERT_TRUE(demo.WaitFor("Updating...\r\n")) << demo.Screen();
    // Redrawn in place: the line is cleared and written again for each change.
    ASSERT_TRUE(demo.WaitFor("\r\x1b[2K[------------------------------]   0%")) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor("\r\x1b[2K[###############---------------]  50%")) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor("\r\x1b[2K[##############################] 100%")) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor(kComplete)) << demo.Screen();
    EXPECT_EQ(home.Status(), 2) << "written before the completion message";
    demo.Type("\r");

    EXPECT_EQ(demo.Wait(), 0) << demo.Screen();
    EXPECT_EQ(home.Status(), 2);
    EXPECT_THAT(demo.Screen(), HasSubstr("checksum yes")) << "the device took the whole image";
    EXPECT_THAT(demo.Screen(), Not(HasSubstr("fault")));
    EXPECT_TRUE(zav::test::SameModes(demo.Modes(), before)) << "the terminal is put back";
}

// Cancel at the update-mode prompt by each of its keys: the program ends at once, with the status
// file as it was and the terminal as it was.
class CancelAtThePrompt : public TerminalDemoTest,
                          public testing::WithParamInterface<const char*> {};

TEST_P(CancelAtThePrompt, EndsWithCode0AndTheStatusUnchanged) {
    home.SetStatus(1);
    const std::string statusBefore = SettingsContent();
    PtySession demo(ZAV_DEMO, Env());
    const termios before = demo.Modes();

    ASSERT_TRUE(demo.WaitFor(kSwitch)) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor("[Esc/q] Cancel\r\n")) << demo.Screen();
    demo.Type(GetParam());

    EXPECT_EQ(demo.Wait(), 0) << demo.Screen();
    EXPECT_EQ(SettingsContent(), statusBefore);
    EXPECT_THAT(demo.Screen(), Not(HasSubstr("Updating...")));
    EXPECT_TRUE(zav::test::SameModes(demo.Modes(), before));
}

INSTANTIATE_TEST_SUITE_P(Keys, CancelAtThePrompt, testing::Values("\x1b", "q", "\x03"),
                         [](const testing::TestParamInfo<const char*>& key) {
                             switch (key.param[0]) {
                                 case '\x1b':
                                     return std::string("Escape");
                                 case 'q':
                                     return std::string("Q");
                                 default:
                                     return std::string("CtrlC");
                             }
                         });

TEST_F(TerminalDemoTest, CtrlCWhileUpdatingSaysSoOnceAndTheUpdateGoesOn) {
    PtySession demo(ZAV_DEMO, Env());
    ASSERT_TRUE(demo.WaitFor(kReady)) << demo.Screen();
    demo.Type("\r");
    ASSERT_TRUE(demo.WaitFor(std::string(kSwitch) + "\r\n[Enter] OK   [Esc/q] Cancel\r\n"))
        << demo.Screen();
    // The terminal's output is stopped (Ctrl-S) before OK: the updating window cannot be drawn,
    // so the transfer cannot get far before it is resumed, and both interrupts come while it runs.
    demo.Type("\x13\r");
    // Status 1 is written just before the updating window: from here on, an interrupt is the
    // update's. (A minute at most, so that a broken program fails instead of hanging.)
    for (int i = 0; home.Status() != 1; ++i) {
        ASSERT_LT(i, 12'000) << "no update started";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    demo.Signal(SIGINT);
    demo.Signal(SIGINT);
    demo.Type("\x11");

    ASSERT_TRUE(demo.WaitFor(kCannotInterrupt)) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor(" 100%")) << demo.Screen();
    ASSERT_TRUE(demo.WaitFor(kComplete)) << demo.Screen();
    demo.Type("\r");
    EXPECT_EQ(demo.Wait(), 0) << demo.Screen();
    EXPECT_EQ(home.Status(), 2);
    EXPECT_EQ(Count(demo.Screen(), kCannotInterrupt), 1) << demo.Screen();
    EXPECT_THAT(demo.Screen(), HasSubstr("checksum yes"));
}

TEST_F(TerminalDemoTest, SigtermAtAPromptPutsTheTerminalBackAndEndsByTheSignal) {
    home.SetStatus(1);
    const std::string statusBefore = SettingsContent();
    PtySession demo(ZAV_DEMO, Env());
    const termios before = demo.Modes();
    ASSERT_TRUE(demo.WaitFor("[Esc/q] Cancel\r\n")) << demo.Screen();
    // Waiting for a key: the terminal is in raw mode now.
    EXPECT_FALSE(zav::test::SameModes(demo.Modes(), before));

    demo.Signal(SIGTERM);
    EXPECT_EQ(demo.Wait(), 128 + SIGTERM);
    EXPECT_TRUE(zav::test::SameModes(demo.Modes(), before));
    EXPECT_EQ(SettingsContent(), statusBefore);
}

// Output to a pipe: plain lines, one for each change of the percentage, from 1 up to 100. Input
// from a pipe: each line answers a prompt (ready, update mode, complete).
TEST_F(TerminalDemoTest, OnPipesProgressComesAsPlainLines) {
    const auto run = zav::test::RunOnPipes(ZAV_DEMO, Env(), "\n\n\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(home.Status(), 2);
    EXPECT_THAT(run.output, Not(HasSubstr("\r")));
    EXPECT_THAT(run.output, Not(HasSubstr("\x1b")));

    std::vector<int> percentages;
    const std::regex line(R"(^ *(\d+)%  \d+:\d\d elapsed, about \d+:\d\d left$)");
    std::istringstream lines(run.output);
    for (std::string text; std::getline(lines, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line)) {
            percentages.push_back(std::stoi(match[1]));
        }
    }
    std::vector<int> every(100);
    for (int i = 0; i < 100; ++i) {
        every[static_cast<std::size_t>(i)] = i + 1;
    }
    EXPECT_EQ(percentages, every) << run.output;
}

// The end of the input is the Cancel command outside the update, as is "q".
class CancelOnPipes : public TerminalDemoTest, public testing::WithParamInterface<const char*> {};

TEST_P(CancelOnPipes, EndsWithCode0AndTheStatusUnchanged) {
    home.SetStatus(1);
    const std::string statusBefore = SettingsContent();
    const auto run = zav::test::RunOnPipes(ZAV_DEMO, Env(), GetParam());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr(kSwitch));
    EXPECT_THAT(run.output, Not(HasSubstr("Updating...")));
    EXPECT_EQ(SettingsContent(), statusBefore);
}

INSTANTIATE_TEST_SUITE_P(Input, CancelOnPipes, testing::Values("", "q\n", "maybe\nq\n"),
                         [](const testing::TestParamInfo<const char*>& key) {
                             const std::string_view input = key.param;
                             if (input.empty()) {
                                 return std::string("EndOfInput");
                             }
                             return input == "q\n" ? std::string("Q")
                                                   : std::string("OtherLineThenQ");
                         });

}  // namespace
