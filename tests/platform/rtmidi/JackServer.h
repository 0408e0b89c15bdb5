#pragma once

#include <sys/types.h>
#include <optional>
#include <string>

namespace zav::test {

// A JACK server of its own for a test, on the dummy backend, under a name no other test uses; it
// is made this process's default server (JACK_DEFAULT_SERVER) until it is stopped. Construct it
// before the first JACK client of the process. Throws std::runtime_error when it does not come up.
class JackServer {
public:
    explicit JackServer(unsigned periodFrames = 256, unsigned rate = 48000);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    pid_t m_pid = -1;
    std::optional<std::string> m_previous;
};

}  // namespace zav::test
