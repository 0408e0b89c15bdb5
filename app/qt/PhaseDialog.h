#pragma once

#include <QDialog>

#include "app/Face.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace zav::app::qt {

// The dialog's window as template 140 lays it out, with the controls of one phase.
class PhaseDialog final : public QDialog {
public:
    PhaseDialog(const WindowSpec& windowSpec, DialogCommands& commands);

    void SetText(const std::wstring& text);
    QProgressBar& Progress() { return *m_progress; }

    // The close control, Escape and Cancel all come here: the Cancel command while the phase
    // allows it, nothing otherwise.
    void reject() override;

private:
    void Layout();

    DialogCommands& m_commands;
    const bool m_closeEnabled;
    QPushButton* m_ok = nullptr;
    QLabel* m_message = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace zav::app::qt
