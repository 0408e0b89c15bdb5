#pragma once

class CZAVFirmwareUpdaterApp;

// Runs the application in the window when a display is available, in the terminal otherwise.
// Qt is not started in the terminal case: it would end the program for want of a display.
int RunWithChosenFace(CZAVFirmwareUpdaterApp& app, int& argc, char** argv);
