#include "tests/platform/rtmidi/JackServer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace zav::test {

namespace {

// Starts a program found on the path, its output thrown away: a server left behind must not hold
// the test's own output open.
pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Asks the server to end, and makes it after a while.
void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD && kill(pid, 0) != 0))
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    Wait(pid);
}

// The server, which ends when the thread that started it does, should the test crash: a server
// left behind would hold the machine's shared memory.
pid_t StartServer(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0)
        throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

}  // namespace

JackServer::JackServer(unsigned periodFrames, unsigned rate)
    : m_name("zav-test-" + std::to_string(getpid())) {
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER"))
        m_previous = previous;
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    // Synchronous, so that a client slowed down (by a sanitizer, a busy machine) delays the cycle
    // instead of losing what it should have read in it.
    m_pid = StartServer({"jackd", "--silent", "--no-realtime", "--sync", "--timeout", "2000", "-n",
                         m_name, "-d", "dummy", "-r", std::to_string(rate), "-p",
                         std::to_string(periodFrames)});
    // Returns once the server takes clients.
    if (Wait(Spawn({"jack_wait", "-s", m_name, "-w", "-t", "10"})) != 0) {
        Stop(m_pid);
        throw std::runtime_error("the JACK server " + m_name + " did not come up");
    }
}

JackServer::~JackServer() {
    Stop(m_pid);
    if (m_previous) {
        setenv("JACK_DEFAULT_SERVER", m_previous->c_str(), 1);
    } else {
        unsetenv("JACK_DEFAULT_SERVER");
    }
}

}  // namespace zav::test

#if defined(__SANITIZE_THREAD__)
// JACK's ring buffers pass data lock-free between a client's thread and its process thread, in a
// library that ThreadSanitizer does not see into; what it reports inside it is not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libjack.so\n";
}
#endif
