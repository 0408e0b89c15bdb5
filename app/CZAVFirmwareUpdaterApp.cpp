#include "app/CZAVFirmwareUpdaterApp.h"

#include <locale>

#include "app/Settings.h"
#include "app/Strings.h"
#include "app/ZAVFirmwareUpdater_Dialog.h"
#include "common/CGenericException.h"
#include "midi/DeviceLink.h"
#include "midi/MidiPorts.h"

CZAVFirmwareUpdaterApp::CZAVFirmwareUpdaterApp(std::span<const std::uint8_t> firmwareResource)
    : m_firmwareResource(firmwareResource) {
    CreateDeviceLink();
    m_status = 0;
    std::filesystem::path folder;
    GetSettingsFolder(folder);
    m_settingsFile = folder / zav::app::kSettingsFileName;
}

bool CZAVFirmwareUpdaterApp::InitInstance() {
    try {
        // Inside the try: a user locale that cannot be made is reported like any other failure.
        std::locale::global(std::locale(""));

        // A second copy ends here, silently. When no lock can be had at all, the program runs as
        // the first copy.
        if (m_instanceLock.Acquire(kInstanceName) ==
            zav::platform::SingleInstanceLock::State::HeldElsewhere) {
            return false;
        }

        m_status = ReadStatus(m_settingsFile);
        m_firmwareImage.assign(m_firmwareResource.begin(), m_firmwareResource.end());

        if (m_status == zav::app::kStatusNone) {
            RunPhase(PhaseWaiting, *this);
            RunPhase(PhaseReady, *this);
        }
        RunPhase(PhaseSwitchMode, *this);
        if (RunPhase(PhaseUpdating, *this)) {
            RunPhase(PhaseComplete, *this);
        }
        return false;
    } catch (const mstd::CGenericException& e) {
        ShowErrorMessage(GetFace(), e.GetCode());
        return false;
    } catch (...) {
        ReportException();
        return false;
    }
}

int CZAVFirmwareUpdaterApp::ExitInstance() {
    m_instanceLock.Release();
    if (auto link = TakeDeviceLink()) {
        DestroyDeviceLink(std::move(link));
        TakeMidiPorts().reset();
    }
    return 0;
}

bool RunPhase(UpdatePhase phase, CZAVFirmwareUpdaterApp& app) {
    zav::app::Face& face = app.GetFace();
    ZAVFirmwareUpdater_Dialog dialog(face);
    switch (phase) {
        case PhaseWaiting:
            dialog.WaitForConnection();
            return true;
        case PhaseReady:
            dialog.ShowReady();
            return true;
        case PhaseSwitchMode:
            for (;;) {
                try {
                    dialog.AskForUpdateMode();
                    return true;
                } catch (const mstd::CGenericException& e) {
                    if (e.GetCode() != mstd::ErrNotConnected &&
                        e.GetCode() != mstd::ErrNotInUpdateMode) {
                        throw;
                    }
                    ShowErrorMessage(face, e.GetCode());
                }
            }
        case PhaseUpdating:
            // Recorded before anything goes to the device: an update cut short starts again at
            // the update-mode prompt.
            app.m_status = zav::app::kStatusStarted;
            WriteStatus(app.m_settingsFile, app.m_status);
            dialog.RunUpdate(app.m_firmwareImage, static_cast<int>(app.m_firmwareImage.size()));
            if (dialog.m_result.load() == 1) {
                app.m_status = zav::app::kStatusCompleted;
                WriteStatus(app.m_settingsFile, app.m_status);
                return true;
            }
            // Over the updating window, which goes with the dialog after the box.
            face.ShowErrorBox(zav::app::LoadAppString(IDS_ERR_COMMUNICATION),
                              std::wstring(zav::app::kMessageBoxCaption));
            return false;
        case PhaseComplete:
            dialog.ShowComplete();
            return true;
    }
    return true;
}

void ShowErrorMessage(zav::app::Face& face, int code) {
    unsigned id = IDS_ERR_UNEXPECTED;
    switch (code) {
        case mstd::ErrNotConnected:
            id = IDS_ERR_NOT_CONNECTED;
            break;
        case mstd::ErrCommunication:
            id = IDS_ERR_COMMUNICATION;
            break;
        case mstd::ErrNotInUpdateMode:
            id = IDS_ERR_UPDATE_MODE;
            break;
        default:
            break;
    }
    face.ShowErrorBox(zav::app::LoadAppString(id), std::wstring(zav::app::kMessageBoxCaption));
}

int RunApplication(CZAVFirmwareUpdaterApp& app, zav::app::Face& face) {
    app.AttachFace(face);
    app.InitInstance();
    return app.ExitInstance();
}
