#include <QApplication>
#include <cstdio>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/demo/DemoDevice.h"
#include "app/qt/QtFace.h"
#include "emulator/UpdateReport.h"

// As in the product: made before main, holding nothing of Qt.
CZAVFirmwareUpdaterApp theApp;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Static, so that the exit of Cancel takes the bus and the device down too.
    static zav::demo::DemoDevice demo;
    zav::app::qt::QtFace face;
    const int code = RunApplication(theApp, face);
    std::printf("What the emulated ZAV5 received:\n%s\n",
                zav::emulator::FormatReport(demo.Device().Report()).c_str());
    return code;
}
