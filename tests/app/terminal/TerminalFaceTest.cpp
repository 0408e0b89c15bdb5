#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "app/terminal/TerminalFace.h"

// The face on pipes, as when the program's input and output are no terminal: keys come as lines,
// progress as plain lines.
namespace {

using testing::HasSubstr;
using zav::app::WindowSpec;
using zav::app::terminal::TerminalFace;

constexpr const char* kCannotInterrupt = "The update cannot be interrupted";

// Cancel as the dialog's does it, short of ending the process.
class Commands final : public zav::app::DialogCommands {
public:
    explicit Commands(zav::app::Face& face) : m_face(face) {}
    void OnCancelCommand() override {
        ++cancels;
        m_face.EndModal();
    }
    int cancels = 0;

private:
    zav::app::Face& m_face;
};

class TerminalFaceTest : public testing::Test {
protected:
    TerminalFaceTest() {
        EXPECT_EQ(pipe2(m_in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(m_out, O_CLOEXEC | O_NONBLOCK), 0);
    }
    ~TerminalFaceTest() override {
        for (int fd : {m_in[0], m_in[1], m_out[0], m_out[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    void Input(const std::string& text, bool end) {
        ASSERT_EQ(write(m_in[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        if (end) {
            close(m_in[1]);
            m_in[1] = -1;
        }
    }

    // What the face has written so far.
    std::string Output() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = read(m_out[0], buffer, sizeof buffer)) > 0) {
            m_output.append(buffer, static_cast<std::size_t>(n));
        }
        return m_output;
    }

    int m_in[2] = {-1, -1};
    int m_out[2] = {-1, -1};
    std::string m_output;
};

struct ModalCase {
    const char* name;
    const char* input;
    bool endOfInput;
    int cancels;
};

void PrintTo(const ModalCase& modalCase, std::ostream* out) {
    *out << modalCase.name;
}

class ModalAnswerTest : public TerminalFaceTest, public testing::WithParamInterface<ModalCase> {};

TEST_P(ModalAnswerTest, AnEmptyLineIsOkAndQOrTheEndIsCancel) {
    Input(GetParam().input, GetParam().endOfInput);
    TerminalFace face(m_in[0], m_out[1]);
    Commands commands(face);
    WindowSpec windowSpec;
    windowSpec.phase = PhaseSwitchMode;
    windowSpec.text = L"Please switch ZAV to update mode.";
    windowSpec.progressVisible = false;

    face.ShowModal(windowSpec, commands);

    EXPECT_EQ(commands.cancels, GetParam().cancels);
    EXPECT_EQ(Output(), "Please switch ZAV to update mode.\n[Enter] OK   [Esc/q] Cancel\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ModalAnswerTest,
    testing::Values(ModalCase{"EmptyLine", "\n", false, 0},
                    ModalCase{"EmptyLineWithReturn", "\r\n", false, 0},
                    ModalCase{"Q", "q\n", false, 1}, ModalCase{"QWithBlanks", " Q \r\n", false, 1},
                    ModalCase{"EndOfInput", "", true, 1},
                    ModalCase{"LastLineWithoutNewline", "q", true, 1},
                    ModalCase{"OtherLinesAreNoAnswer", "yes\nmaybe\n\n", false, 0}),
    [](const testing::TestParamInfo<ModalCase>& param) { return std::string(param.param.name); });

TEST_F(TerminalFaceTest, AnErrorBoxIsAMarkedLineThatWaitsForEnter) {
    Input("\n", false);
    TerminalFace face(m_in[0], m_out[1]);
    face.ShowErrorBox(L"Communication error.", L"ZAV_V2_Updater");
    EXPECT_EQ(Output(), "[ZAV_V2_Updater] Error: Communication error.\n[Enter] OK\n");
}

TEST_F(TerminalFaceTest, ATextIsWrittenAsUtf8) {
    Input("\n", false);
    TerminalFace face(m_in[0], m_out[1]);
    face.ShowErrorBox(L"Gr\u00fc\u00dfe \u2013 \u20ac", L"ZAV_V2_Updater");
    EXPECT_THAT(Output(), HasSubstr("Gr\xc3\xbc\xc3\x9f"
                                    "e \xe2\x80\x93 \xe2\x82\xac\n"));
}

TEST_F(TerminalFaceTest, ProgressFromTheWorkerReturnsOnceItsLineIsWrittenAndNothingCancelsIt) {
    // A user tries both ways out while the firmware goes out.
    Input("q\n", false);
    TerminalFace face(m_in[0], m_out[1]);
    Commands commands(face);
    WindowSpec windowSpec;
    windowSpec.phase = PhaseUpdating;
    windowSpec.okVisible = false;
    windowSpec.cancelVisible = false;
    windowSpec.closeEnabled = false;
    auto window = face.ShowModeless(windowSpec, commands);
    window->SetText(L"Updating...");
    window->SetProgressRange(0, 100);

    std::atomic<bool> done{false};
    std::vector<std::string> seenOnReturn;
    std::thread worker([&] {
        raise(SIGINT);
        for (const int value : {1, 1, 2, 50, 100}) {
            window->SetProgressFromWorker(value);
            seenOnReturn.push_back(Output());
        }
        done = true;
        face.Wake();
    });
    face.PumpUntil([&] { return done.load(); });
    worker.join();

    ASSERT_EQ(seenOnReturn.size(), 5u);
    EXPECT_THAT(seenOnReturn[0], HasSubstr("\n  1%  0:00 elapsed\n"));
    EXPECT_THAT(seenOnReturn[2], HasSubstr("\n  2%  0:00 elapsed\n"));
    EXPECT_THAT(seenOnReturn[3], HasSubstr("\n 50%  0:00 elapsed\n"));
    EXPECT_THAT(seenOnReturn[4], HasSubstr("\n100%  0:00 elapsed\n"));
    const std::string output = Output();
    // One line per change: the repeated 1 and the starting 0 add none.
    std::size_t lines = 0;
    for (auto at = output.find(" elapsed\n"); at != std::string::npos;
         at = output.find(" elapsed\n", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 4u) << output;
    EXPECT_EQ(commands.cancels, 0);
    const auto notice = output.find(kCannotInterrupt);
    ASSERT_NE(notice, std::string::npos) << output;
    EXPECT_EQ(output.find(kCannotInterrupt, notice + 1), std::string::npos) << "said once";
    EXPECT_EQ(output.rfind("Updating...\n", 0), 0u) << output;
}

}  // namespace
