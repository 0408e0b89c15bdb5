#pragma once

#include <sys/types.h>
#include <termios.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zav::test {

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

// A program on a pseudo-terminal of its own, as a user at a terminal runs it: the terminal is its
// controlling terminal, its standard input, output and error. The test holds both sides, so it can
// read the screen, type, and look at the terminal's modes at any time.
class PtySession {
public:
    PtySession(const std::string& program, const EnvChanges& env);
    // Kills the program if it still runs.
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // Reads the screen until text appears after what earlier waits found. False when the program
    // ended first (or a minute passed, so that a broken program fails the test instead of hanging
    // it).
    bool WaitFor(std::string_view text);
    // Types bytes.
    void Type(std::string_view bytes);
    void Signal(int signal) const;
    // Waits for the program to end and reads what is left: its exit code, or 128 + the signal
    // that ended it.
    int Wait();

    const std::string& Screen() const { return m_screen; }
    // The modes of the program's terminal, as seen from the test's own descriptor for it.
    termios Modes() const;

private:
    // Reads what is there within timeoutMs; false once the program has ended and nothing is left.
    bool ReadSome(int timeoutMs);

    int m_master = -1;
    int m_slave = -1;
    pid_t m_pid = -1;
    std::optional<int> m_exit;
    std::string m_screen;
    std::size_t m_found = 0;
};

// Runs a program with its standard input and output on pipes: input is written and the pipe
// closed, then everything it writes is read until it ends.
struct PipeRun {
    int exitCode = -1;
    std::string output;
};
PipeRun RunOnPipes(const std::string& program, const EnvChanges& env, std::string_view input);

// Whether two sets of terminal modes are the same in every flag and control character.
bool SameModes(const termios& a, const termios& b);

}  // namespace zav::test
