#include "app/qt/PhaseDialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/DialogTemplate.h"

namespace zav::app::qt {

namespace {

QString FromWide(std::wstring_view text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

QRect ToQRect(const PixelRect& r) {
    return QRect(r.x, r.y, r.width, r.height);
}

// The template's font stands for the system's dialog font: its family, the template's size.
QFont DialogFont(const DialogTemplate& tmpl) {
    QFont font = QApplication::font("QDialog");
    font.setPointSize(tmpl.pointSize);
    return font;
}

DialogBaseUnits BaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    return {AverageCharWidth(
                metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
            metrics.height()};
}

}  // namespace

PhaseDialog::PhaseDialog(const WindowSpec& windowSpec, DialogCommands& commands)
    : QDialog(nullptr), m_commands(commands), m_closeEnabled(windowSpec.closeEnabled) {
    const DialogTemplate& tmpl = UpdaterDialogTemplate();
    setWindowTitle(FromWide(tmpl.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::MSWindowsFixedSizeDialogHint;
    if (windowSpec.closeEnabled) {
        flags |= Qt::WindowCloseButtonHint;
    }
    setWindowFlags(flags);
    setFont(DialogFont(tmpl));

    for (const ControlTemplate& control : tmpl.controls) {
        switch (control.id) {
            case IDOK:
                m_ok = new QPushButton(FromWide(control.text), this);
                break;
            case IDCANCEL:
                m_cancel = new QPushButton(FromWide(control.text), this);
                break;
            case IDC_MESSAGE:
                m_message = new QLabel(FromWide(control.text), this);
                m_message->setTextFormat(Qt::PlainText);
                break;
            case IDC_PROGRESS:
                m_progress = new QProgressBar(this);
                m_progress->setTextVisible(false);
                m_progress->setRange(0, 100);
                m_progress->setValue(0);
                break;
            default:
                break;
        }
    }
    Layout();

    // OK ends a modal prompt; in a modeless window it is hidden and ends nothing.
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (isModal()) {
            accept();
        }
    });
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_commands.OnCancelCommand(); });

    m_ok->setVisible(windowSpec.okVisible);
    m_cancel->setVisible(windowSpec.cancelVisible);
    m_progress->setVisible(windowSpec.progressVisible);
    SetText(windowSpec.text);

    // The focus goes to the first control of the tab order that can take it.
    setTabOrder(m_ok, m_cancel);
    if (windowSpec.okVisible) {
        m_ok->setFocus();
    } else if (windowSpec.cancelVisible) {
        m_cancel->setFocus();
    }
}

void PhaseDialog::Layout() {
    const DialogTemplate& tmpl = UpdaterDialogTemplate();
    const DialogBaseUnits units = BaseUnits(font());
    for (const ControlTemplate& control : tmpl.controls) {
        const QRect rect = ToQRect(ToPixels(control.rect, units));
        switch (control.id) {
            case IDOK:
                m_ok->setGeometry(rect);
                break;
            case IDCANCEL:
                m_cancel->setGeometry(rect);
                break;
            case IDC_MESSAGE:
                m_message->setGeometry(rect);
                break;
            case IDC_PROGRESS:
                m_progress->setGeometry(rect);
                break;
            default:
                break;
        }
    }
    const QRect client = ToQRect(ToPixels(tmpl.rect, units));
    setFixedSize(client.size());
    // The template places the window at its own origin on the screen, not centred.
    if (const QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().topLeft() + client.topLeft());
    }
}

void PhaseDialog::SetText(const std::wstring& text) {
    m_message->setText(FromWide(text));
}

void PhaseDialog::reject() {
    if (m_closeEnabled) {
        m_commands.OnCancelCommand();
    }
}

}  // namespace zav::app::qt
