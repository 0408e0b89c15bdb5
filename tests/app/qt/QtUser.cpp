#include "tests/app/qt/QtUser.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/qt/PhaseDialog.h"

namespace zav::test {

namespace {

QPushButton* Button(QWidget* window, const QString& text) {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

bool Visible(QWidget* widget) {
    return widget != nullptr && widget->isVisible();
}

}  // namespace

QtUser::QtUser(std::filesystem::path folder, std::string prefix)
    : m_folder(std::move(folder)), m_prefix(std::move(prefix)) {
    std::filesystem::create_directories(m_folder);
    qApp->installEventFilter(this);
}

QtUser::~QtUser() {
    qApp->removeEventFilter(this);
}

std::vector<std::wstring> QtUser::Texts() const {
    std::vector<std::wstring> texts;
    for (const Seen& seen : m_seen) {
        texts.push_back(seen.text);
    }
    return texts;
}

bool QtUser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->isWindow() && qobject_cast<QDialog*>(widget) != nullptr) {
            // Once the window is up and its phase has put its text in.
            QTimer::singleShot(0, widget, [this, widget] { Look(widget); });
        }
    }
    return false;
}

void QtUser::Look(QWidget* window) {
    Seen seen;
    seen.window = window;
    seen.caption = window->windowTitle().toStdWString();
    seen.modal = window->isModal();
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        seen.kind = Seen::Kind::Box;
        seen.text = box->text().toStdWString();
        seen.criticalIcon = box->icon() == QMessageBox::Critical;
    } else {
        seen.kind = Seen::Kind::Dialog;
        seen.text = window->findChild<QLabel*>()->text().toStdWString();
        seen.okVisible = Visible(Button(window, "OK"));
        seen.cancelVisible = Visible(Button(window, "Cancel"));
        seen.progressVisible = Visible(window->findChild<QProgressBar*>());
        seen.closeButton = window->windowFlags().testFlag(Qt::WindowCloseButtonHint);
    }
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() &&
            dynamic_cast<app::qt::PhaseDialog*>(other) != nullptr) {
            seen.otherDialogs.push_back(other->findChild<QLabel*>()->text().toStdWString());
        }
    }

    Screenshot(window, std::to_string(m_seen.size() + 1) +
                           (seen.kind == Seen::Kind::Box ? "-box" : "-dialog"));

    Action action = Action::None;
    if (react) {
        action = react(seen);
    } else if (seen.modal || seen.kind == Seen::Kind::Box) {
        action = Action::Ok;
    }
    seen.window = nullptr;
    m_seen.push_back(seen);
    Do(window, action);
}

void QtUser::Screenshot(QWidget* window, const std::string& what) const {
    const auto file = m_folder / (m_prefix + "-" + what + ".png");
    window->grab().save(QString::fromStdString(file.string()));
}

void QtUser::Do(QWidget* window, Action action) {
    switch (action) {
        case Action::None:
            break;
        case Action::Ok:
            if (auto* box = qobject_cast<QMessageBox*>(window)) {
                box->button(QMessageBox::Ok)->click();
            } else {
                Button(window, "OK")->click();
            }
            break;
        case Action::Cancel:
            Button(window, "Cancel")->click();
            break;
        case Action::Escape: {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(window, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(window, &release);
            break;
        }
        case Action::Close:
            window->close();
            break;
    }
}

class ObservedFace::Window final : public app::FaceWindow {
public:
    Window(ObservedFace& face, std::unique_ptr<app::FaceWindow> window)
        : m_face(face), m_window(std::move(window)) {}

    void SetText(const std::wstring& text) override { m_window->SetText(text); }
    void SetProgressRange(int lower, int upper) override {
        m_window->SetProgressRange(lower, upper);
    }
    void SetProgressFromWorker(int position) override {
        m_window->SetProgressFromWorker(position);
        {
            std::lock_guard lock(m_face.m_mutex);
            m_face.m_progress.push_back(position);
        }
        if (m_face.onProgress) {
            m_face.onProgress(position);
        }
    }
    void Hide() override { m_window->Hide(); }

private:
    ObservedFace& m_face;
    std::unique_ptr<app::FaceWindow> m_window;
};

std::vector<int> ObservedFace::ProgressValues() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::unique_ptr<app::FaceWindow> ObservedFace::ShowModeless(const app::WindowSpec& windowSpec,
                                                            app::DialogCommands& commands) {
    return std::make_unique<Window>(*this, m_face.ShowModeless(windowSpec, commands));
}

void ObservedFace::ShowModal(const app::WindowSpec& windowSpec, app::DialogCommands& commands) {
    if (beforeModal) {
        beforeModal(windowSpec);
    }
    m_face.ShowModal(windowSpec, commands);
}

}  // namespace zav::test
