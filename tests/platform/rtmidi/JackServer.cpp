#include "tests/platform/rtmidi/JackServer.h"

#include <fcntl.h>
#include <spawn.h>
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

// Starts a program found on the path, its standard output thrown away.
pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

JackServer::JackServer(unsigned periodFrames, unsigned rate)
    : m_name("zav-test-" + std::to_string(getpid())) {
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER"))
        m_previous = previous;
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    m_pid = Spawn({"jackd", "--silent", "-n", m_name, "-d", "dummy", "-r", std::to_string(rate),
                   "-p", std::to_string(periodFrames)});
    // Returns once the server takes clients.
    if (Wait(Spawn({"jack_wait", "-s", m_name, "-w", "-t", "10"})) != 0) {
        kill(m_pid, SIGTERM);
        Wait(m_pid);
        throw std::runtime_error("the JACK server " + m_name + " did not come up");
    }
}

JackServer::~JackServer() {
    kill(m_pid, SIGTERM);
    Wait(m_pid);
    if (m_previous) {
        setenv("JACK_DEFAULT_SERVER", m_previous->c_str(), 1);
    } else {
        unsetenv("JACK_DEFAULT_SERVER");
    }
}

}  // namespace zav::test
