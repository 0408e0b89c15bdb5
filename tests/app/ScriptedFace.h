#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Face.h"

namespace zav::test {

// A face without windows for the flow's tests: it records what a user would have seen, answers
// the prompts as its script says, and runs a small event queue in its pump loops, so that progress
// from the worker waits for this thread exactly as it waits for a real user interface.
class ScriptedFace final : public app::Face {
public:
    enum class Kind { Modeless, Modal, Text, ErrorBox, Progress, Closed };

    struct Event {
        Kind kind = Kind::Modal;
        app::WindowSpec windowSpec;  // Modeless, Modal
        std::wstring text;           // Text, ErrorBox
        int value = 0;               // Progress
        // Modeless windows open when the event happened.
        int openWindows = 0;
    };

    enum class Answer { Ok, Cancel };

    ScriptedFace();
    ~ScriptedFace() override;

    // How the user answers a modal prompt; OK unless set. It runs on the user interface thread and
    // may do what a user does to the device before answering.
    std::function<Answer(const app::WindowSpec&)> onModal;
    // Runs inside the first pump loop of each modeless window, on the user interface thread, with
    // the window's commands.
    std::function<void(const app::WindowSpec&, app::DialogCommands&)> onModeless;
    // Runs on the user interface thread after each progress report has been shown.
    std::function<void(int value)> onProgress;

    std::vector<Event> Events() const;
    std::vector<int> ProgressValues() const;

    std::unique_ptr<app::FaceWindow> ShowModeless(const app::WindowSpec& windowSpec,
                                                  app::DialogCommands& commands) override;
    void ShowModal(const app::WindowSpec& windowSpec, app::DialogCommands& commands) override;
    void EndModal() override {}
    void PumpUntil(const std::function<bool()>& done) override;
    void Wake() override;
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;

    // From another thread: runs task on the user interface thread and returns once it has run.
    void RunOnUiThread(std::function<void()> task);
    bool OnUiThread() const { return std::this_thread::get_id() == m_uiThread; }

private:
    class Window;

    void Record(Kind kind, app::WindowSpec windowSpec = {}, std::wstring text = {}, int value = 0);
    void Post(std::function<void()> task);

    const std::thread::id m_uiThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_woken = false;
    std::vector<Event> m_events;
    int m_openWindows = 0;
};

}  // namespace zav::test
