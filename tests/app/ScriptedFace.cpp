#include "tests/app/ScriptedFace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace zav::test {

class ScriptedFace::Window final : public app::FaceWindow {
public:
    Window(ScriptedFace& face) : m_face(face) {}
    ~Window() override {
        std::lock_guard lock(m_face.m_mutex);
        --m_face.m_openWindows;
        Event closed;
        closed.kind = Kind::Closed;
        closed.openWindows = m_face.m_openWindows;
        m_face.m_events.push_back(std::move(closed));
    }

    void SetText(const std::wstring& text) override { m_face.Record(Kind::Text, {}, text); }
    void SetProgressRange(int lower, int upper) override {
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, 100);
    }
    void SetProgressFromWorker(int position) override {
        EXPECT_FALSE(m_face.OnUiThread()) << "progress comes from the worker";
        m_face.RunOnUiThread([this, position] {
            m_face.Record(Kind::Progress, {}, {}, position);
            if (m_face.onProgress) {
                m_face.onProgress(position);
            }
        });
    }
    void Hide() override {}

private:
    ScriptedFace& m_face;
};

ScriptedFace::ScriptedFace() : m_uiThread(std::this_thread::get_id()) {}
ScriptedFace::~ScriptedFace() = default;

void ScriptedFace::Record(Kind kind, app::WindowSpec windowSpec, std::wstring text, int value) {
    std::lock_guard lock(m_mutex);
    Event event;
    event.kind = kind;
    event.windowSpec = std::move(windowSpec);
    event.text = std::move(text);
    event.value = value;
    event.openWindows = m_openWindows;
    m_events.push_back(std::move(event));
}

std::vector<ScriptedFace::Event> ScriptedFace::Events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<int> ScriptedFace::ProgressValues() const {
    std::vector<int> values;
    for (const Event& event : Events()) {
        if (event.kind == Kind::Progress) {
            values.push_back(event.value);
        }
    }
    return values;
}

std::unique_ptr<app::FaceWindow> ScriptedFace::ShowModeless(const app::WindowSpec& windowSpec,
                                                            app::DialogCommands& commands) {
    EXPECT_TRUE(OnUiThread());
    {
        std::lock_guard lock(m_mutex);
        ++m_openWindows;
    }
    Record(Kind::Modeless, windowSpec);
    if (onModeless) {
        Post([this, windowSpec, &commands] { onModeless(windowSpec, commands); });
    }
    return std::make_unique<Window>(*this);
}

void ScriptedFace::ShowModal(const app::WindowSpec& windowSpec, app::DialogCommands& commands) {
    EXPECT_TRUE(OnUiThread());
    Record(Kind::Modal, windowSpec);
    const Answer answer = onModal ? onModal(windowSpec) : Answer::Ok;
    if (answer == Answer::Cancel) {
        commands.OnCancelCommand();
    }
}

void ScriptedFace::PumpUntil(const std::function<bool()>& done) {
    EXPECT_TRUE(OnUiThread());
    // What was posted before the loop runs in it even when its condition holds already: a
    // window's hook belongs to that window's loop, not to the next window's, whose dialog may be
    // another.
    std::deque<std::function<void()>> posted;
    {
        std::lock_guard lock(m_mutex);
        posted.swap(m_tasks);
    }
    for (auto& task : posted) {
        task();
    }
    while (!done()) {
        std::deque<std::function<void()>> tasks;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait_for(lock, std::chrono::seconds(120),
                                    [this] { return m_woken || !m_tasks.empty(); })) {
                ADD_FAILURE() << "the pump loop was never woken";
                return;
            }
            m_woken = false;
            tasks.swap(m_tasks);
        }
        for (auto& task : tasks) {
            task();
        }
    }
}

void ScriptedFace::Wake() {
    std::lock_guard lock(m_mutex);
    m_woken = true;
    m_changed.notify_all();
}

void ScriptedFace::Post(std::function<void()> task) {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
    m_changed.notify_all();
}

void ScriptedFace::RunOnUiThread(std::function<void()> task) {
    std::promise<void> ran;
    auto future = ran.get_future();
    Post([&task, &ran] {
        task();
        ran.set_value();
    });
    future.wait();
}

void ScriptedFace::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    EXPECT_TRUE(OnUiThread());
    EXPECT_EQ(caption, L"ZAV_V2_Updater");
    Record(Kind::ErrorBox, {}, text);
}

}  // namespace zav::test
