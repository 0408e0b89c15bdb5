#include "platform/system/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/system/UserFolders.h"

namespace zav::platform {

SingleInstanceLock::State SingleInstanceLock::Acquire(std::string_view name) {
    const auto folder = UserRuntimeFolder();
    if (folder.empty()) {
        Release();
        m_state = State::Unavailable;
        return m_state;
    }
    return AcquireFile(folder / (std::string(name) + ".lock"));
}

SingleInstanceLock::State SingleInstanceLock::AcquireFile(const std::filesystem::path& file) {
    Release();
    // Close-on-exec: a program started from here must not carry our lock with it.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_state = State::Unavailable;
        return m_state;
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        m_state = (errno == EWOULDBLOCK) ? State::HeldElsewhere : State::Unavailable;
        ::close(fd);
        return m_state;
    }
    m_fd = fd;
    m_state = State::Owned;
    return m_state;
}

void SingleInstanceLock::Release() {
    if (m_fd >= 0) {
        // Closing the only descriptor of the open file drops its lock.
        ::close(m_fd);
        m_fd = -1;
    }
    m_state = State::Unlocked;
}

}  // namespace zav::platform
