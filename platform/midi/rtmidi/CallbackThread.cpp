#include "platform/midi/rtmidi/CallbackThread.h"

#include <utility>

#include "common/CGenericException.h"

namespace zav::platform {

CallbackThread::CallbackThread() : m_thread([this] { Loop(); }) {}

CallbackThread::~CallbackThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CallbackThread::Post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void CallbackThread::Run(const std::function<void()>& task) {
    if (OnThread()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    Post([&] {
        task();
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

void CallbackThread::Loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
        if (m_tasks.empty())
            return;
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // The tasks catch for themselves; should one not, the thread lives on.
            ReportException();
        }
        lock.lock();
    }
}

}  // namespace zav::platform
