#include <cstdio>

#include "app/CZAVFirmwareUpdaterApp.h"
#include "app/ChosenFace.h"
#include "app/demo/DemoClock.h"
#include "app/demo/DemoDevice.h"
#include "emulator/UpdateReport.h"

// Before the application object, which starts its timer on the clock installed then.
zav::demo::DemoClock demoClock;

// As in the product: made before main, holding nothing of Qt.
CZAVFirmwareUpdaterApp theApp;

int main(int argc, char** argv) {
    // Static, so that the exit of Cancel takes the bus and the device down too.
    static zav::demo::DemoDevice demo;
    const int code = RunWithChosenFace(theApp, argc, argv);
    std::printf("What the emulated ZAV5 received:\n%s\n",
                zav::emulator::FormatReport(demo.Device().Report()).c_str());
    return code;
}
