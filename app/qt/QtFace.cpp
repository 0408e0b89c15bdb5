#include "app/qt/QtFace.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QThread>
#include <algorithm>

#include "app/qt/PhaseDialog.h"

namespace zav::app::qt {

namespace {

class QtFaceWindow final : public FaceWindow {
public:
    explicit QtFaceWindow(std::unique_ptr<PhaseDialog> dialog) : m_dialog(std::move(dialog)) {}

    void SetText(const std::wstring& text) override { m_dialog->SetText(text); }
    void SetProgressRange(int lower, int upper) override {
        m_dialog->Progress().setRange(lower, upper);
    }
    void SetProgressFromWorker(int position) override {
        QProgressBar* bar = &m_dialog->Progress();
        if (QThread::currentThread() == bar->thread()) {
            bar->setValue(position);
            return;
        }
        // The worker waits until the user interface thread has moved the bar.
        QMetaObject::invokeMethod(
            bar, [bar, position] { bar->setValue(position); }, Qt::BlockingQueuedConnection);
    }
    void Hide() override { m_dialog->hide(); }

private:
    std::unique_ptr<PhaseDialog> m_dialog;
};

}  // namespace

QtFace::QtFace() = default;
QtFace::~QtFace() = default;

std::unique_ptr<FaceWindow> QtFace::ShowModeless(const WindowSpec& windowSpec,
                                                 DialogCommands& commands) {
    auto dialog = std::make_unique<PhaseDialog>(windowSpec, commands);
    dialog->setModal(false);
    dialog->show();
    return std::make_unique<QtFaceWindow>(std::move(dialog));
}

void QtFace::ShowModal(const WindowSpec& windowSpec, DialogCommands& commands) {
    PhaseDialog dialog(windowSpec, commands);
    m_modal = &dialog;
    dialog.exec();
    m_modal = nullptr;
}

void QtFace::EndModal() {
    if (m_modal) {
        m_modal->hide();
    }
}

void QtFace::PumpUntil(const std::function<bool()>& done) {
    // No event is processed between the test and exec: a wake queued after the test quits the
    // loop, and one handled before it left the condition true for the test to see.
    while (!done()) {
        QEventLoop loop;
        m_loops.push_back(&loop);
        loop.exec();
        m_loops.erase(std::find(m_loops.begin(), m_loops.end(), &loop));
    }
}

void QtFace::Wake() {
    QMetaObject::invokeMethod(
        &m_waker,
        [this] {
            for (QEventLoop* loop : m_loops) {
                loop->quit();
            }
        },
        Qt::QueuedConnection);
}

void QtFace::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    QMessageBox box(QMessageBox::Critical, QString::fromStdWString(caption),
                    QString::fromStdWString(text), QMessageBox::Ok);
    box.exec();
}

}  // namespace zav::app::qt
