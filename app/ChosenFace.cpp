#include "app/ChosenFace.h"

#include <QApplication>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/qt/QtFace.h"
#include "app/terminal/FaceChoice.h"
#include "app/terminal/TerminalFace.h"

int RunWithChosenFace(CZAVFirmwareUpdaterApp& app, int& argc, char** argv) {
    if (zav::app::terminal::DisplayAvailable()) {
        QApplication application(argc, argv);
        zav::app::qt::QtFace face;
        return RunApplication(app, face);
    }
    zav::app::terminal::TerminalFace face;
    face.SetTimeline(zav::app::terminal::TimelineOf(app.FirmwareResource()));
    return RunApplication(app, face);
}
