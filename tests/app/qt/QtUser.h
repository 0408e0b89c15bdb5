#pragma once

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/Face.h"
#include "app/qt/QtFace.h"

class QWidget;

namespace zav::test {

// What a user saw of one window as it came up.
struct Seen {
    enum class Kind { Dialog, Box };
    Kind kind = Kind::Dialog;
    std::wstring caption;
    std::wstring text;
    bool modal = false;
    // Dialog windows.
    bool okVisible = false;
    bool cancelVisible = false;
    bool progressVisible = false;
    bool closeButton = false;
    // Boxes.
    bool criticalIcon = false;
    // Dialog windows on the screen, this one apart, and their texts.
    std::vector<std::wstring> otherDialogs;
    // Valid during the reaction only.
    QWidget* window = nullptr;
};

// A user in front of the screen: sees each window of the program as it comes up, keeps a
// screenshot of it, and answers it as the test says.
class QtUser final : public QObject {
public:
    enum class Action { None, Ok, Cancel, Escape, Close };

    // Screenshots go to `folder`, named after `prefix` and their order.
    QtUser(std::filesystem::path folder, std::string prefix);
    ~QtUser() override;

    // Decides what to do with a window that came up; OK for prompts and boxes unless set.
    std::function<Action(const Seen&)> react;

    const std::vector<Seen>& Transcript() const { return m_seen; }
    std::vector<std::wstring> Texts() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

    static void Do(QWidget* window, Action action);
    // Keeps a picture of the window as it is now, named after `what`.
    void Screenshot(QWidget* window, const std::string& what) const;

private:
    void Look(QWidget* window);

    std::filesystem::path m_folder;
    std::string m_prefix;
    std::vector<Seen> m_seen;
};

// The windowed face with a tester's hands on it: progress as the worker reports it, and a hook
// before each prompt that may throw, to send exceptions up the flow.
class ObservedFace final : public app::Face {
public:
    explicit ObservedFace(app::qt::QtFace& face) : m_face(face) {}

    std::function<void(const app::WindowSpec&)> beforeModal;
    // On the update worker, after the bar has moved.
    std::function<void(int value)> onProgress;

    std::vector<int> ProgressValues() const;

    std::unique_ptr<app::FaceWindow> ShowModeless(const app::WindowSpec& windowSpec,
                                                  app::DialogCommands& commands) override;
    void ShowModal(const app::WindowSpec& windowSpec, app::DialogCommands& commands) override;
    void EndModal() override { m_face.EndModal(); }
    void PumpUntil(const std::function<bool()>& done) override { m_face.PumpUntil(done); }
    void Wake() override { m_face.Wake(); }
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override {
        m_face.ShowErrorBox(text, caption);
    }

private:
    class Window;

    app::qt::QtFace& m_face;
    mutable std::mutex m_mutex;
    std::vector<int> m_progress;
};

}  // namespace zav::test
