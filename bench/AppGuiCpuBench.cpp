// The user interface thread's share of the processor while the firmware goes out: the demo's whole
// flow in real time on the virtual bus, offscreen, with a user who presses OK at every prompt.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <string>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/Strings.h"
#include "app/ZAVFirmwareUpdater_Dialog.h"
#include "app/demo/DemoDevice.h"
#include "app/qt/QtFace.h"

namespace {

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
    return CpuSeconds(CLOCK_MONOTONIC);
}

struct Sample {
    double wall = 0;
    double gui = 0;
    double process = 0;

    static Sample Now() {
        return {WallSeconds(), CpuSeconds(CLOCK_THREAD_CPUTIME_ID),
                CpuSeconds(CLOCK_PROCESS_CPUTIME_ID)};
    }
};

// Presses OK wherever there is one, and notes the times at which the updating window comes up and
// the completion prompt follows it. Runs on the user interface thread.
class User final : public QObject {
public:
    User() { qApp->installEventFilter(this); }
    ~User() override { qApp->removeEventFilter(this); }

    Sample start;
    Sample end;

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (event->type() == QEvent::Show && dialog != nullptr && dialog->isWindow()) {
            QTimer::singleShot(0, dialog, [this, dialog] { Answer(dialog); });
        }
        return false;
    }

private:
    void Answer(QDialog* dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            box->button(QMessageBox::Ok)->click();
            return;
        }
        const QString text = dialog->findChild<QLabel*>()->text();
        if (text == QString::fromStdWString(zav::app::LoadAppString(IDS_UPDATING))) {
            start = Sample::Now();
        }
        if (text == QString::fromStdWString(zav::app::LoadAppString(IDS_COMPLETE))) {
            end = Sample::Now();
        }
        if (dialog->isModal()) {
            for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
                if (button->text() == "OK") {
                    button->click();
                }
            }
        }
    }
};

void BM_GuiCpuDuringTransfer(benchmark::State& state) {
    for (auto _ : state) {
        // A first run, in folders of its own.
        const std::string folder =
            (std::filesystem::temp_directory_path() / ("zav-bench-gui-" + std::to_string(getpid())))
                .string();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder + "/run");
        std::filesystem::permissions(folder + "/run", std::filesystem::perms::owner_all);
        setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (folder + "/run").c_str(), 1);
        ResetDeviceReady();

        zav::demo::DemoDevice demo;
        User user;
        zav::app::qt::QtFace face;
        CZAVFirmwareUpdaterApp app;
        RunApplication(app, face);
        std::filesystem::remove_all(folder);

        const double wall = user.end.wall - user.start.wall;
        const double gui = user.end.gui - user.start.gui;
        const double process = user.end.process - user.start.process;
        state.SetIterationTime(wall);
        state.counters["transfer_s"] = wall;
        state.counters["gui_cpu_s"] = gui;
        state.counters["gui_cpu_pct_of_core"] = 100.0 * gui / wall;
        state.counters["process_cpu_s"] = process;
        state.counters["process_cpu_pct_of_core"] = 100.0 * process / wall;
        state.counters["messages"] = static_cast<double>(demo.Device().Report().messagesReceived);
    }
}
BENCHMARK(BM_GuiCpuDuringTransfer)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
