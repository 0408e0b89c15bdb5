#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zav::platform {

// A thread of the backend's own on which the program's callbacks run: tasks one at a time, in
// the order posted, so that no two callbacks of a port ever overlap and an operation that must
// wait for the callbacks it causes can run on the thread itself.
class CallbackThread {
public:
    CallbackThread();
    // Runs what was posted before, then ends.
    ~CallbackThread();
    CallbackThread(const CallbackThread&) = delete;
    CallbackThread& operator=(const CallbackThread&) = delete;

    // Any thread.
    void Post(std::function<void()> task);
    // Runs task on the thread and returns once it has run; runs it at once when called there.
    void Run(const std::function<void()>& task);
    bool OnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    void Loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace zav::platform
