#pragma once

#include <cstddef>
#include <optional>

// What the engine tells whoever shows the update: the percentage of messages sent, each time it
// changes. Called on the sending thread, which waits until the call returns.
class IUpdateProgress {
public:
    virtual ~IUpdateProgress() = default;
    virtual void OnUpdateProgress(int percentage) = 0;
    // Asked before each message is handed over: false ends the update as a failed send does. A
    // device that leaves update mode half-way ignores the rest, and an update played to the end
    // regardless would be reported as written.
    virtual bool KeepSending() { return true; }
};

namespace zav::engine {

// The percentage that stands for message index of count: index * 100.0 / count + 0.5, truncated.
// It is taken before the message is sent, so it counts the messages before it: 0 for the first,
// and 100 for the last only when count is 200 or more.
int ProgressPercentage(std::size_t index, std::size_t count);

// Which percentages an update of count messages reports, starting from 0 as already shown.
class ProgressTracker {
public:
    explicit ProgressTracker(std::size_t count) : m_count(count) {}

    // Message index has been sent: the percentage to report, or nothing when it is the one last
    // reported.
    std::optional<int> Sent(std::size_t index);

private:
    std::size_t m_count;
    int m_lastReported = 0;
};

}  // namespace zav::engine
