#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

#include "app/Face.h"

class QEventLoop;

namespace zav::app::qt {

class PhaseDialog;

// The windowed face: Qt Widgets on the thread that made the QApplication, which must exist
// before the face and outlive it.
class QtFace final : public Face {
public:
    QtFace();
    ~QtFace() override;

    std::unique_ptr<FaceWindow> ShowModeless(const WindowSpec& windowSpec,
                                             DialogCommands& commands) override;
    void ShowModal(const WindowSpec& windowSpec, DialogCommands& commands) override;
    void EndModal() override;
    void PumpUntil(const std::function<bool()>& done) override;
    void Wake() override;
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;

private:
    // Lives on the user interface thread; wakes are queued calls to it.
    QObject m_waker;
    std::vector<QEventLoop*> m_loops;
    QPointer<PhaseDialog> m_modal;
};

}  // namespace zav::app::qt
