#pragma once

#include <filesystem>
#include <string_view>

namespace zav::platform {

// One running copy per user: a lock file in the user's runtime folder, held with an advisory lock
// that the system drops when the process ends in any way, kill -9 included. The file itself stays;
// only the lock on it counts.
class SingleInstanceLock {
public:
    enum class State {
        Unlocked,       // not tried, or released
        Owned,          // this object holds the lock
        HeldElsewhere,  // another process (or another lock object) holds it
        Unavailable,    // no runtime folder or the file could not be opened or locked
    };

    SingleInstanceLock() = default;
    ~SingleInstanceLock() { Release(); }
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // The lock named `name` ("<name>.lock") in UserRuntimeFolder().
    State Acquire(std::string_view name);
    // The lock on the given file, created when missing.
    State AcquireFile(const std::filesystem::path& file);
    void Release();

    State GetState() const { return m_state; }

private:
    int m_fd = -1;
    State m_state = State::Unlocked;
};

}  // namespace zav::platform
