#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/Strings.h"
#include "app/qt/PhaseDialog.h"
#include "app/qt/QtFace.h"
#include "common/CGenericException.h"
#include "platform/system/SingleInstance.h"
#include "resources/TestImage.h"
#include "tests/app/AppBench.h"
#include "tests/app/qt/QtUser.h"
#include "tests/support/ScopedEnv.h"

namespace {

using zav::test::QtUser;
using zav::test::Seen;
using Action = QtUser::Action;
using State = zav::platform::SingleInstanceLock::State;
using testing::HasSubstr;
using testing::Not;

const std::wstring kWaiting = L"Waiting for connection...";
const std::wstring kReady = L"ZAV is ready. Press \"OK\" to proceed.";
const std::wstring kSwitch = L"Please switch ZAV to update mode.";
const std::wstring kUpdating = L"Updating...";
const std::wstring kComplete = L"Update Complete! Turn the power off/on before using.";
const std::wstring kNotConnected = L"Please make sure that ZAV is connected. ";
const std::wstring kNotInUpdateMode = L"Please make sure that ZAV is connected in update mode. ";
const std::wstring kCommunication = L"Communication error.";
const std::wstring kUnexpected = L"Unexpected error.";

constexpr std::size_t kTestImageMessages = 2343;

std::string CurrentTestName() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return name;
}

// The real dialog on the virtual bench, driven by a user at the screen.
class DialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    int Run(std::span<const std::uint8_t> image = zav::fw::TestImage()) {
        CZAVFirmwareUpdaterApp app(image);
        return RunApplication(app, face);
    }

    // What a user who follows the prompts does: switches the device to update mode at the
    // update-mode prompt, reads the completion message for a moment, and presses OK.
    Action Follow(const Seen& seen) {
        if (seen.kind == Seen::Kind::Dialog && seen.text == kSwitch &&
            bench.device.GetMode() == zav::emulator::Mode::Normal) {
            bench.device.SwitchToUpdateMode();
        }
        if (seen.text == kComplete) {
            // Meanwhile the last message plays out.
            bench.clock.SleepMs(1000);
        }
        return seen.modal || seen.kind == Seen::Kind::Box ? Action::Ok : Action::None;
    }

    void FollowThePrompts() {
        user.react = [this](const Seen& seen) { return Follow(seen); };
    }

    bool LockIsFree() {
        zav::platform::SingleInstanceLock lock;
        return lock.Acquire(CZAVFirmwareUpdaterApp::kInstanceName) == State::Owned;
    }

    zav::test::UpdaterBench bench;
    zav::app::qt::QtFace qtFace;
    zav::test::ObservedFace face{qtFace};
    QtUser user{ZAV_SCREENSHOT_DIR, CurrentTestName()};
};

// A dialog window as the user sees it: text, then which of OK, Cancel, bar and close box show.
struct Window {
    std::wstring text;
    bool modal;
    bool ok;
    bool cancel;
    bool progress;
    bool closeButton;

    bool operator==(const Window&) const = default;
};

std::vector<Window> Windows(const std::vector<Seen>& transcript) {
    std::vector<Window> windows;
    for (const Seen& seen : transcript) {
        EXPECT_EQ(seen.kind, Seen::Kind::Dialog) << "unexpected box";
        EXPECT_EQ(seen.caption, L"ZAV_Z104_Firmware");
        windows.push_back({seen.text, seen.modal, seen.okVisible, seen.cancelVisible,
                           seen.progressVisible, seen.closeButton});
    }
    return windows;
}

void PrintTo(const Window& w, std::ostream* os) {
    *os << QString::fromStdWString(w.text).toStdString() << (w.modal ? " modal" : " modeless")
        << (w.ok ? " OK" : "") << (w.cancel ? " Cancel" : "") << (w.progress ? " bar" : "")
        << (w.closeButton ? " close" : "");
}

std::vector<int> OneToHundred() {
    std::vector<int> values;
    for (int i = 1; i <= 100; ++i) {
        values.push_back(i);
    }
    return values;
}

TEST_F(DialogTest, AFirstRunLeadsThroughEveryPhaseToCompletion) {
    std::optional<int> statusAtCompletion;
    bool triedToClose = false;
    bool stillOpen = false;
    int barRange = 0;
    user.react = [&](const Seen& seen) {
        if (seen.text == kUpdating) {
            auto* bar = seen.window->findChild<QProgressBar*>();
            barRange = bar->maximum() - bar->minimum() + 1000 * bar->minimum();
            QWidget* window = seen.window;
            QObject::connect(bar, &QProgressBar::valueChanged, window, [&, window](int value) {
                if (value == 50) {
                    user.Screenshot(window, "updating-50");
                }
                if (value == 10) {
                    // Nothing in the window may stop the transfer.
                    QtUser::Do(window, Action::Escape);
                    QtUser::Do(window, Action::Close);
                    triedToClose = true;
                    stillOpen = window->isVisible();
                }
            });
        }
        if (seen.text == kComplete) {
            statusAtCompletion = bench.home.Status();
        }
        return Follow(seen);
    };
    Run();

    const std::vector<Window> expected = {
        {kWaiting, false, false, true, false, true}, {kReady, true, true, false, false, true},
        {kSwitch, true, true, true, false, true},    {kUpdating, false, false, false, true, false},
        {kComplete, true, true, false, false, true},
    };
    EXPECT_EQ(Windows(user.Transcript()), expected);
    EXPECT_EQ(face.ProgressValues(), OneToHundred()) << "each percentage once, in order";
    EXPECT_EQ(barRange, 100);
    EXPECT_TRUE(triedToClose);
    EXPECT_TRUE(stillOpen) << "Escape or the close box ended the updating window";
    EXPECT_EQ(statusAtCompletion, 2);
    EXPECT_EQ(bench.home.Status(), 2);
    const auto report = bench.device.Report();
    EXPECT_EQ(report.messagesReceived, kTestImageMessages);
    EXPECT_TRUE(report.faults.empty()) << zav::emulator::FormatReport(report);
}

class DialogStatusTest : public DialogTest, public testing::WithParamInterface<int> {};

TEST_P(DialogStatusTest, ANonZeroStatusStartsAtTheUpdateModePrompt) {
    bench.home.SetStatus(GetParam());
    FollowThePrompts();
    Run();
    EXPECT_EQ(user.Texts(), (std::vector<std::wstring>{kSwitch, kUpdating, kComplete}));
    EXPECT_EQ(bench.home.Status(), 2);
}

INSTANTIATE_TEST_SUITE_P(Status, DialogStatusTest, testing::Values(1, 2, 7));

TEST_F(DialogTest, AtThePromptADeviceNotFoundOrSpeakingIsToldAndAskedAgain) {
    bench.home.SetStatus(1);
    int prompts = 0;
    user.react = [&](const Seen& seen) {
        if (seen.text == kSwitch) {
            ++prompts;
            if (prompts == 1) {
                bench.plugged.Unplug();
                return Action::Ok;
            }
            if (prompts == 2) {
                bench.plugged.Replug();  // back, in normal mode
                return Action::Ok;
            }
        }
        if (seen.kind == Seen::Kind::Box) {
            EXPECT_TRUE(seen.criticalIcon);
            EXPECT_EQ(seen.caption, L"ZAV_V2_Updater");
            EXPECT_TRUE(seen.otherDialogs.empty()) << "a box with no window under it";
        }
        return Follow(seen);
    };
    Run();
    EXPECT_EQ(user.Texts(),
              (std::vector<std::wstring>{kSwitch, kNotConnected, kSwitch, kNotInUpdateMode, kSwitch,
                                         kUpdating, kComplete}));
    EXPECT_EQ(bench.home.Status(), 2);
}

TEST_F(DialogTest, ASendFailureGivesOneCommunicationErrorOverTheUpdatingWindow) {
    bench.home.SetStatus(1);
    bench.plugged.Ports().FailLongMessage(600, zav::platform::kMidiError);
    std::vector<std::wstring> under;
    bool criticalIcon = false;
    user.react = [&](const Seen& seen) {
        if (seen.kind == Seen::Kind::Box) {
            under = seen.otherDialogs;
            criticalIcon = seen.criticalIcon;
            EXPECT_EQ(seen.caption, L"ZAV_V2_Updater");
        }
        return Follow(seen);
    };
    Run();
    EXPECT_EQ(user.Texts(), (std::vector<std::wstring>{kSwitch, kUpdating, kCommunication}));
    EXPECT_EQ(under, std::vector<std::wstring>{kUpdating});
    EXPECT_TRUE(criticalIcon);
    EXPECT_EQ(bench.home.Status(), 1);
    const auto progress = face.ProgressValues();
    ASSERT_FALSE(progress.empty());
    EXPECT_LT(progress.back(), 100);
    EXPECT_EQ(bench.device.Received().size(), 600u);
}

TEST_F(DialogTest, ExceptionsThatReachTheFlowEndItWithTheirMessageOrATrace) {
    struct Case {
        const char* reason;
        std::function<void()> thrower;
        std::optional<std::string> badLocale;
        std::vector<std::wstring> boxes;
        std::string trace;
    };
    const Case cases[] = {
        {"device exception 1001",
         [] { throw mstd::CGenericException(1001, 0); },
         {},
         {kCommunication},
         ""},
        {"device exception 5", [] { throw mstd::CGenericException(5, 0); }, {}, {kUnexpected}, ""},
        {"another exception type",
         [] { throw std::runtime_error("x"); },
         {},
         {},
         "Exception caught!\n"},
        {"a user locale that cannot be made",
         nullptr,
         "xx_XX.NotACharset",
         {},
         "Exception caught!\n"},
    };
    bench.home.SetStatus(1);
    FollowThePrompts();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::size_t before = user.Transcript().size();
        face.beforeModal = [&c](const zav::app::WindowSpec&) { c.thrower(); };
        if (!c.thrower) {
            face.beforeModal = nullptr;
        }
        std::optional<zav::test::ScopedEnv> locale;
        if (c.badLocale) {
            locale.emplace("LC_ALL", *c.badLocale);
        }
        testing::internal::CaptureStderr();
        Run();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.trace);
        std::vector<std::wstring> boxes;
        for (std::size_t i = before; i < user.Transcript().size(); ++i) {
            const Seen& seen = user.Transcript()[i];
            EXPECT_EQ(seen.kind, Seen::Kind::Box);
            EXPECT_TRUE(seen.criticalIcon);
            boxes.push_back(seen.text);
        }
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(bench.home.Status(), 1);
    }
}

struct CancelCase {
    const char* name;
    std::optional<int> status;  // in the file before the run
    std::wstring window;        // where the user cancels
    Action action;
    std::optional<int> after;
};

void PrintTo(const CancelCase& c, std::ostream* os) {
    *os << c.name;
}

class DialogCancelTest : public DialogTest, public testing::WithParamInterface<CancelCase> {};

TEST_P(DialogCancelTest, CancelEndsTheProcessWithExitCode0) {
    const CancelCase& c = GetParam();
    if (c.status) {
        bench.home.SetStatus(*c.status);
    }
    EXPECT_EXIT(
        {
            if (c.window == kWaiting) {
                bench.device.SwitchToUpdateMode();  // connected, never heard: it waits
            }
            user.react = [&](const Seen& seen) {
                return seen.text == c.window ? c.action : Follow(seen);
            };
            Run();
        },
        testing::ExitedWithCode(0), Not(HasSubstr("Exception caught!")));
    EXPECT_EQ(bench.home.Status(), c.after);
    EXPECT_TRUE(LockIsFree());
}

INSTANTIATE_TEST_SUITE_P(
    Phases, DialogCancelTest,
    testing::Values(CancelCase{"WaitingCancel", {}, kWaiting, Action::Cancel, {}},
                    CancelCase{"WaitingEscape", {}, kWaiting, Action::Escape, {}},
                    CancelCase{"ReadyClose", {}, kReady, Action::Close, {}},
                    CancelCase{"ReadyEscape", {}, kReady, Action::Escape, {}},
                    CancelCase{"SwitchModeCancel", 7, kSwitch, Action::Cancel, 7},
                    CancelCase{"SwitchModeClose", 2, kSwitch, Action::Close, 2},
                    CancelCase{"CompleteClose", 1, kComplete, Action::Close, 2}),
    [](const testing::TestParamInfo<CancelCase>& param) { return std::string(param.param.name); });

TEST_F(DialogTest, KillingTheProcessWhileUpdatingLeavesStatus1) {
    bench.home.SetStatus(2);
    EXPECT_EXIT(
        {
            FollowThePrompts();
            face.onProgress = [](int value) {
                if (value == 30) {
                    raise(SIGKILL);
                }
            };
            Run();
        },
        testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(bench.home.Status(), 1);
    EXPECT_TRUE(LockIsFree()) << "the system drops the lock of a killed process";
}

TEST_F(DialogTest, ASecondCopyEndsSilently) {
    zav::platform::SingleInstanceLock first;
    ASSERT_EQ(first.Acquire(CZAVFirmwareUpdaterApp::kInstanceName), State::Owned);
    std::filesystem::remove_all(bench.home.Path() / "config");

    testing::internal::CaptureStderr();
    Run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(user.Transcript().empty());
    EXPECT_TRUE(std::filesystem::is_directory(bench.home.SettingsFolder()))
        << "the second copy still makes the settings folder";
    EXPECT_EQ(bench.home.Status(), std::nullopt);
    EXPECT_EQ(first.GetState(), State::Owned);
}

TEST(QtFace, PumpsEventsAndTestsItsConditionOnlyWhenWoken) {
    zav::app::qt::QtFace face;
    std::atomic<bool> done{false};
    int tests = 0;
    bool timerRan = false;
    QTimer::singleShot(5, [&] { timerRan = true; });
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        done = true;
        face.Wake();
    });
    face.PumpUntil([&] {
        ++tests;
        return done.load();
    });
    worker.join();
    EXPECT_TRUE(timerRan) << "events go on while the loop waits";
    EXPECT_EQ(tests, 2) << "once at the start, once after the wake";

    // A wake that came before the loop is not lost.
    tests = 0;
    face.Wake();
    face.PumpUntil([&] {
        ++tests;
        return true;
    });
    EXPECT_EQ(tests, 1);
    QApplication::processEvents();
}

TEST(PhaseDialog, EveryPhaseTextFitsItsLineAndTheControlsFitTheWindow) {
    struct NoCommands final : zav::app::DialogCommands {
        void OnCancelCommand() override {}
    } commands;
    zav::app::WindowSpec windowSpec;
    zav::app::qt::PhaseDialog dialog(windowSpec, commands);
    const QRect client = dialog.rect();
    auto* label = dialog.findChild<QLabel*>();
    const QFontMetrics metrics(label->font());
    for (unsigned id = IDS_ERR_UPDATE_MODE; id <= IDS_COMPLETE; ++id) {
        const QString text = QString::fromStdWString(zav::app::LoadAppString(id));
        SCOPED_TRACE(text.toStdString());
        EXPECT_LE(metrics.horizontalAdvance(text), label->width());
    }
    EXPECT_GE(label->height(), metrics.height());
    for (QWidget* control : dialog.findChildren<QWidget*>()) {
        if (control->parentWidget() == &dialog) {
            EXPECT_TRUE(client.contains(control->geometry()));
        }
    }
    auto buttons = dialog.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_FALSE(buttons[0]->geometry().intersects(buttons[1]->geometry()));
}

}  // namespace
