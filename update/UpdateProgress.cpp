#include "update/UpdateProgress.h"

namespace zav::engine {

int ProgressPercentage(std::size_t index, std::size_t count) {
    if (count == 0)
        return 0;
    return static_cast<int>(static_cast<double>(index) * 100.0 / static_cast<double>(count) + 0.5);
}

std::optional<int> ProgressTracker::Sent(std::size_t index) {
    const int percentage = ProgressPercentage(index, m_count);
    if (percentage == m_lastReported)
        return std::nullopt;
    m_lastReported = percentage;
    return percentage;
}

}  // namespace zav::engine
