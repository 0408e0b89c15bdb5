#include "platform/ThreadTiming.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace zav::platform {

#if defined(__linux__)

std::uint64_t CurrentTimerSlack() {
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    return slack < 0 ? 0 : static_cast<std::uint64_t>(slack);
}

ScopedTimerSlack::ScopedTimerSlack(std::uint64_t nanoseconds) {
    const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    // Setting 0 would mean "the process default" to the kernel, not "no slack".
    if (previous <= 0 || nanoseconds == 0)
        return;
    m_previous = static_cast<std::uint64_t>(previous);
    m_active = prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(nanoseconds), 0, 0, 0) == 0;
}

ScopedTimerSlack::~ScopedTimerSlack() {
    if (m_active)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_previous), 0, 0, 0);
}

#else

std::uint64_t CurrentTimerSlack() {
    return 0;
}

ScopedTimerSlack::ScopedTimerSlack(std::uint64_t) {}

ScopedTimerSlack::~ScopedTimerSlack() = default;

#endif

}  // namespace zav::platform
