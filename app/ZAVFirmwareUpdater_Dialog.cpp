#include "app/ZAVFirmwareUpdater_Dialog.h"

#include <algorithm>
#include <cstdlib>

#include "app/Strings.h"
#include "common/CGenericException.h"
#include "midi/DeviceLink.h"
#include "midi/MidiPorts.h"
#include "platform/clock/Clock.h"
#include "update/PlayFirmwareImage.h"

std::atomic<bool> DeviceReady{false};

void ResetDeviceReady() {
    DeviceReady = false;
}

namespace {

constexpr std::uint32_t kFirstPollDelayMs = 1000;
constexpr std::uint32_t kPollIntervalMs = 500;
constexpr std::uint32_t kUpdateModeCheckMs = 1000;

}  // namespace

ZAVFirmwareUpdater_Dialog::ZAVFirmwareUpdater_Dialog(zav::app::Face& face) : m_face(face) {}

ZAVFirmwareUpdater_Dialog::~ZAVFirmwareUpdater_Dialog() {
    StopWorker();
    m_window.reset();
}

zav::app::WindowSpec ZAVFirmwareUpdater_Dialog::InitDialogSpec() const {
    zav::app::WindowSpec windowSpec;
    windowSpec.phase = static_cast<UpdatePhase>(m_phase);
    windowSpec.text = m_messageText;
    switch (m_phase) {
        case PhaseWaiting:
            windowSpec.progressVisible = false;
            windowSpec.okVisible = false;
            break;
        case PhaseReady:
        case PhaseComplete:
            windowSpec.progressVisible = false;
            windowSpec.cancelVisible = false;
            break;
        case PhaseSwitchMode:
            windowSpec.progressVisible = false;
            break;
        case PhaseUpdating:
            windowSpec.cancelVisible = false;
            windowSpec.okVisible = false;
            windowSpec.closeEnabled = false;
            break;
        default:
            break;
    }
    return windowSpec;
}

void ZAVFirmwareUpdater_Dialog::CreateModeless() {
    m_window = m_face.ShowModeless(InitDialogSpec(), *this);
}

void ZAVFirmwareUpdater_Dialog::DoModal() {
    m_face.ShowModal(InitDialogSpec(), *this);
}

void ZAVFirmwareUpdater_Dialog::WaitForConnection() {
    m_phase = PhaseWaiting;
    CreateModeless();
    m_phaseText = zav::app::LoadAppString(IDS_WAITING);
    m_window->SetText(m_phaseText);
    m_stopPolling = false;
    m_worker = std::thread(ConnectPollThread, this);
    m_face.PumpUntil([] { return DeviceReady.load(); });
    m_worker.join();
    m_window.reset();
}

unsigned ZAVFirmwareUpdater_Dialog::ConnectPollThread(ZAVFirmwareUpdater_Dialog* dialog) {
    const auto stopped = [dialog] { return dialog->m_stopPolling.load(); };
    zav::platform::SleepFor(kFirstPollDelayMs);
    bool connected = false;
    while (!stopped()) {
        try {
            DeviceLink& link = RequireDeviceLink();
            if (!connected) {
                connected = Connect(link);
            }
            if (connected && link.lastHeard.load() != 0) {
                Disconnect(link);
                DeviceReady = true;
                dialog->m_face.Wake();
                return 0;
            }
        } catch (const mstd::CGenericException&) {
            // A port that is there but will not open: close what did open and try again, as a
            // user replugging the device would want.
            connected = false;
            if (DeviceLink* link = CurrentDeviceLink()) {
                Disconnect(*link);
            }
        } catch (...) {
            ReportException();
            connected = false;
            if (DeviceLink* link = CurrentDeviceLink()) {
                Disconnect(*link);
            }
        }
        zav::platform::SleepFor(kPollIntervalMs);
    }
    return 0;
}

void ZAVFirmwareUpdater_Dialog::ShowReady() {
    m_phase = PhaseReady;
    m_phaseText = zav::app::LoadAppString(IDS_READY);
    m_messageText = m_phaseText;
    DoModal();
}

void ZAVFirmwareUpdater_Dialog::AskForUpdateMode() {
    m_phase = PhaseSwitchMode;
    m_phaseText = zav::app::LoadAppString(IDS_SWITCH_MODE);
    m_messageText = m_phaseText;
    DoModal();
    CheckUpdateMode(RequireDeviceLink());
}

void ZAVFirmwareUpdater_Dialog::CheckUpdateMode(DeviceLink& link) {
    if (!Connect(link)) {
        throw mstd::CGenericException(mstd::ErrNotConnected, 0);
    }
    zav::platform::SleepFor(kUpdateModeCheckMs);
    if (link.lastHeard.load() != 0) {
        Disconnect(link);
        throw mstd::CGenericException(mstd::ErrNotInUpdateMode, 0);
    }
}

bool ZAVFirmwareUpdater_Dialog::RunUpdate(const std::vector<std::uint8_t>& firmware, int size) {
    m_progressMax = 100.0;
    m_phase = PhaseUpdating;
    CreateModeless();
    m_phaseText = zav::app::LoadAppString(IDS_UPDATING);
    m_window->SetText(m_phaseText);
    m_window->SetProgressRange(0, static_cast<int>(m_progressMax));
    m_firmware = firmware;
    // Never more bytes than there are: the engine reads exactly this many.
    m_firmwareSize =
        std::clamp<std::int32_t>(size, 0, static_cast<std::int32_t>(m_firmware.size()));
    m_running = true;
    m_result = 1;
    m_worker = std::thread(UpdateThread, this);
    // The worker waits in each progress report for this thread, so events go on until it ends.
    m_face.PumpUntil([this] { return !m_running.load(); });
    m_worker.join();
    return true;
}

unsigned ZAVFirmwareUpdater_Dialog::UpdateThread(ZAVFirmwareUpdater_Dialog* dialog) {
    try {
        if (CurrentDeviceLink() == nullptr) {
            CreateDeviceLink();
        }
        // An empty image is a failed update, not a read of a byte that is not there.
        const bool ok =
            dialog->m_firmwareSize > 0 &&
            PlayFirmwareImage(dialog->m_firmware.data(),
                              static_cast<std::uint32_t>(dialog->m_firmwareSize), dialog);
        if (!ok) {
            dialog->m_result = -1;
        }
    } catch (...) {
        ReportException();
        dialog->m_result = -1;
    }
    dialog->m_running = false;
    dialog->m_face.Wake();
    return 0;
}

void ZAVFirmwareUpdater_Dialog::OnUpdateProgress(int percentage) {
    m_progressPosition = static_cast<double>(percentage);
    m_window->SetProgressFromWorker(percentage);
}

bool ZAVFirmwareUpdater_Dialog::KeepSending() {
    const DeviceLink* link = CurrentDeviceLink();
    return link == nullptr || link->lastHeard.load() == 0;
}

void ZAVFirmwareUpdater_Dialog::ShowComplete() {
    m_phase = PhaseComplete;
    m_phaseText = zav::app::LoadAppString(IDS_COMPLETE);
    m_messageText = m_phaseText;
    DoModal();
}

void ZAVFirmwareUpdater_Dialog::StopWorker() {
    if (!m_worker.joinable()) {
        return;
    }
    m_stopPolling = true;
    if (m_running.load()) {
        m_face.PumpUntil([this] { return !m_running.load(); });
    }
    m_worker.join();
}

void ZAVFirmwareUpdater_Dialog::OnCancelCommand() {
    if (m_running.load()) {
        return;
    }
    m_face.EndModal();
    if (m_window) {
        m_window->Hide();
    }
    // Nothing may use the link or the ports once they go.
    StopWorker();
    if (auto link = TakeDeviceLink()) {
        DestroyDeviceLink(std::move(link));
    }
    TakeMidiPorts().reset();
    std::exit(0);
}
