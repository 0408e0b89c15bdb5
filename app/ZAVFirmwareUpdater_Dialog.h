#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Face.h"
#include "app/UpdatePhase.h"
#include "update/UpdateProgress.h"

struct DeviceLink;

// Set by the connection poll once it has heard the device; a run of the flow never sets it back.
extern std::atomic<bool> DeviceReady;
// Clears DeviceReady, for a process that runs the flow more than once (the tests do).
void ResetDeviceReady();

// The program's one dialog, with an operation for each phase. One object serves one phase: it shows
// the phase's window through the face, runs the phase's worker, and takes the window down when the
// object goes. All operations run on the user interface thread, apart from OnUpdateProgress.
class ZAVFirmwareUpdater_Dialog final : public IUpdateProgress, private zav::app::DialogCommands {
public:
    explicit ZAVFirmwareUpdater_Dialog(zav::app::Face& face);
    // Stops and waits for a worker that is still running, then takes the window down.
    ~ZAVFirmwareUpdater_Dialog();
    ZAVFirmwareUpdater_Dialog(const ZAVFirmwareUpdater_Dialog&) = delete;
    ZAVFirmwareUpdater_Dialog& operator=(const ZAVFirmwareUpdater_Dialog&) = delete;

    // "Waiting for connection..." until the device has been heard, then the window goes.
    void WaitForConnection();
    // "ZAV is ready..." until OK.
    void ShowReady();
    // "Please switch ZAV to update mode." until OK, then checks that the device is silent. Throws
    // mstd::CGenericException 1000 when it is not found or cannot be opened, 1002 when it speaks;
    // on success the ports stay open for the update.
    void AskForUpdateMode();
    // Plays the first `size` bytes of the firmware to the device, showing progress, and returns
    // once the transfer has ended, with the window still open. Always true; the outcome is
    // m_result.
    bool RunUpdate(const std::vector<std::uint8_t>& firmware, int size);
    // "Update Complete!..." until OK.
    void ShowComplete();

    // From the update worker: moves the bar, waiting until the user interface has done it.
    void OnUpdateProgress(int percentage) override;
    // From the update worker: false once the device has been heard. A device in update mode is
    // silent, so one that speaks has left it and takes no more of the firmware.
    bool KeepSending() override;
    // Cancel: takes the device link and the ports down and ends the process with exit code 0.
    // While the firmware goes out nothing can stop it, so there it does nothing.
    void OnCancelCommand() override;

    std::vector<std::uint8_t> m_firmware;
    std::int32_t m_firmwareSize = 0;
    // Set before the update worker starts; then the worker's alone, m_result before m_running.
    std::atomic<bool> m_running{false};
    // 1 success, -1 the update failed.
    std::atomic<std::int32_t> m_result{0};
    std::wstring m_messageText;
    std::int32_t m_phase = PhaseWaiting;
    // The update worker's.
    double m_progressPosition = 0.0;
    double m_progressMax = 0.0;
    std::wstring m_phaseText;

private:
    static void CheckUpdateMode(DeviceLink& link);
    static unsigned ConnectPollThread(ZAVFirmwareUpdater_Dialog* dialog);
    static unsigned UpdateThread(ZAVFirmwareUpdater_Dialog* dialog);

    // The controls of the current phase.
    zav::app::WindowSpec InitDialogSpec() const;
    void CreateModeless();
    void DoModal();
    // Ends the worker: the poll is told to stop, the update is waited for while events go on.
    void StopWorker();

    zav::app::Face& m_face;
    std::unique_ptr<zav::app::FaceWindow> m_window;
    std::thread m_worker;
    // Tested by the poll before each attempt and after each pause.
    std::atomic<bool> m_stopPolling{false};
};
