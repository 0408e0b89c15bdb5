#pragma once

// The steps of one update, each run on a dialog of its own.
enum UpdatePhase : int {
    PhaseWaiting = 0,     // waiting until the device is heard
    PhaseReady = 1,       // the device is there
    PhaseSwitchMode = 2,  // the user puts it into update mode
    PhaseUpdating = 3,    // the firmware goes out
    PhaseComplete = 4,    // done
};
