#include "tests/app/terminal/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace zav::test {

namespace {

constexpr auto kPatience = std::chrono::seconds(60);

std::vector<std::string> ChildEnvironment(const EnvChanges& changes) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool changed = false;
        for (const auto& change : changes) {
            changed = changed || change.first == name;
        }
        if (!changed) {
            env.emplace_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            env.push_back(name + "=" + *value);
        }
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

void Fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

PtySession::PtySession(const std::string& program, const EnvChanges& env) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        Fail("posix_openpt");
    }
    const char* name = ptsname(m_master);
    if (name == nullptr) {
        Fail("ptsname");
    }
    const std::string slaveName = name;
    m_slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        Fail("open pty");
    }
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ioctl(m_slave, TIOCSWINSZ, &size);

    std::vector<std::string> envStrings = ChildEnvironment(env);
    std::vector<char*> envp = Pointers(envStrings);
    std::string programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};

    m_pid = fork();
    if (m_pid < 0) {
        Fail("fork");
    }
    if (m_pid == 0) {
        // The child: a session of its own with the terminal as its controlling terminal.
        setsid();
        const int tty = open(slaveName.c_str(), O_RDWR);
        if (tty < 0) {
            _exit(126);
        }
        ioctl(tty, TIOCSCTTY, 0);
        dup2(tty, STDIN_FILENO);
        dup2(tty, STDOUT_FILENO);
        dup2(tty, STDERR_FILENO);
        if (tty > STDERR_FILENO) {
            close(tty);
        }
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
}

PtySession::~PtySession() {
    if (m_pid > 0 && !m_exit) {
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    if (m_master >= 0) {
        close(m_master);
    }
    if (m_slave >= 0) {
        close(m_slave);
    }
}

bool PtySession::ReadSome(int timeoutMs) {
    pollfd fd{m_master, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN) != 0) {
        char buffer[4096];
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_screen.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
    }
    if (!m_exit) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_exit = ExitCode(status);
        }
    }
    if (m_exit) {
        // Whatever it wrote before it ended is still to be read.
        return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0;
    }
    return true;
}

bool PtySession::WaitFor(std::string_view text) {
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        if (const auto at = m_screen.find(text, m_found); at != std::string::npos) {
            m_found = at + text.size();
            return true;
        }
        if (std::chrono::steady_clock::now() > giveUp || !ReadSome(100)) {
            return false;
        }
    }
}

void PtySession::Type(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(m_master, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("write pty");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PtySession::Signal(int signal) const {
    kill(m_pid, signal);
}

int PtySession::Wait() {
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (ReadSome(100)) {
        if (std::chrono::steady_clock::now() > giveUp) {
            kill(m_pid, SIGKILL);
        }
    }
    return *m_exit;
}

termios PtySession::Modes() const {
    termios modes{};
    if (tcgetattr(m_slave, &modes) != 0) {
        Fail("tcgetattr");
    }
    return modes;
}

PipeRun RunOnPipes(const std::string& program, const EnvChanges& env, std::string_view input) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        Fail("pipe2");
    }
    std::vector<std::string> envStrings = ChildEnvironment(env);
    std::vector<char*> envp = Pointers(envStrings);
    std::string programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};
    const pid_t pid = fork();
    if (pid < 0) {
        Fail("fork");
    }
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // The input is a few lines: the pipe takes them at once.
    [[maybe_unused]] const ssize_t written = write(in[1], input.data(), input.size());
    close(in[1]);
    PipeRun run;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) != 0) {
        if (n > 0) {
            run.output.append(buffer, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = ExitCode(status);
    return run;
}

bool SameModes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace zav::test
